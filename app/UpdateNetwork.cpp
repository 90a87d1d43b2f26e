#include "app/UpdateNetwork.h"

#include <curl/curl.h>

#include <mutex>

#include "foundation/SystemSettings.h"

namespace {

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
  const std::function<bool(int64_t)>* onLength = nullptr;
  const std::function<bool(const char*, size_t)>* onBlock = nullptr;
  CURL* curl = nullptr;
  bool started = false;
  bool refused = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (!t->started) {
    t->started = true;
    curl_off_t length = -1;
    if (curl_easy_getinfo(t->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) length = -1;
    if (*t->onLength && !(*t->onLength)(int64_t(length))) {
      t->refused = true;
      return 0;
    }
  }
  if (*t->onBlock && !(*t->onBlock)(data, bytes)) {
    t->refused = true;
    return 0;
  }
  return bytes;
}

class CurlNetwork : public UpdateNetwork {
 public:
  explicit CurlNetwork(std::string caFile) : caFile_(std::move(caFile)) { InitCurlOnce(); }

  long Status(const std::string& url) override {
    CURL* curl = Prepare(url);
    if (!curl) return 0;
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    long status = 0;
    if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    return status;
  }

  FetchResult Get(const std::string& url, const std::function<bool(int64_t)>& onLength,
                  const std::function<bool(const char*, size_t)>& onBlock) override {
    FetchResult result;
    CURL* curl = Prepare(url);
    if (!curl) {
      result.error = "the transfer could not be set up";
      return result;
    }
    Transfer t;
    t.onLength = &onLength;
    t.onBlock = &onBlock;
    t.curl = curl;
    // An error page is never taken for the file: no body for a failure status.
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    CURLcode code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    curl_off_t length = -1;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK) result.length = length;
    if (!t.started && code == CURLE_OK && onLength && !onLength(result.length)) t.refused = true;
    result.transferred = code == CURLE_OK && !t.refused;
    if (code != CURLE_OK && !t.refused) result.error = curl_easy_strerror(code);
    if (t.refused) result.error = "the transfer was stopped";
    curl_easy_cleanup(curl);
    return result;
  }

 private:
  CURL* Prepare(const std::string& url) {
    CURL* curl = curl_easy_init();
    if (!curl) return nullptr;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "my_down");
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    // A server that stops sending is given up rather than waited for forever.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    // A forced reload: nothing comes from a cache on the way.
    static curl_slist* noCache = curl_slist_append(curl_slist_append(nullptr, "Cache-Control: no-cache"), "Pragma: no-cache");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, noCache);
    if (!caFile_.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile_.c_str());
    return curl;
  }

  std::string caFile_;
};

}  // namespace

std::unique_ptr<UpdateNetwork> MakeCurlNetwork(const std::string& caFile) {
  return std::make_unique<CurlNetwork>(caFile);
}

std::string UpdateServerAddress() {
  std::string server = ReadSystemSetting("UpdateServer", "");
  while (!server.empty() && (server.back() == '/' || server.back() == ' ')) server.pop_back();
  while (!server.empty() && server.front() == ' ') server.erase(0, 1);
  return server;
}

std::string UpdateServerCaFile() { return ReadSystemSetting("UpdateServerCA", ""); }

std::string UpdateUrl(const std::string& server, const std::string& path) {
  std::string tail;
  for (char c : path) {
    char d = c == '\\' ? '/' : c;
    if (d == '/' && (tail.empty() || tail.back() == '/')) continue;
    tail += d;
  }
  std::string base = server;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base + "/" + tail;
}
