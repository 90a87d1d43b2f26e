#include "app/UpdateFiles.h"

#include <openssl/evp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>

#include "SafeFile.h"
#include "OutputFile.h"
#include "foundation/ProfileIni.h"

namespace fs = std::filesystem;

namespace {

struct DigestDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using Digest = std::unique_ptr<EVP_MD_CTX, DigestDeleter>;

Digest NewSha256() {
  Digest ctx(EVP_MD_CTX_new());
  if (ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) ctx.reset();
  return ctx;
}

std::string HexOf(EVP_MD_CTX* ctx) {
  unsigned char sum[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (EVP_DigestFinal_ex(ctx, sum, &n) != 1) return "";
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < n; ++i) {
    out += hex[sum[i] >> 4];
    out += hex[sum[i] & 15];
  }
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

const char* DownloadResultText(DownloadResult result) {
  switch (result) {
    case DownloadResult::Ok: return "downloaded";
    case DownloadResult::NotFound: return "the server does not have the file";
    case DownloadResult::Failed: return "the transfer failed";
    case DownloadResult::Short: return "the transfer ended before the whole file arrived";
    case DownloadResult::WrongSize: return "the file's size differs from the update list";
    case DownloadResult::WrongDigest: return "the file's SHA-256 differs from the update list";
    case DownloadResult::Cancelled: return "cancelled";
    case DownloadResult::NotWritten: return "the file could not be written";
  }
  return "";
}

DownloadResult Download(UpdateNetwork& net, const std::string& url, const std::string& localPath,
                        const DownloadCheck& check, const DownloadHooks& hooks) {
  OutputFile out;
  int64_t announced = -1, received = 0;
  bool cancelled = false, writeFailed = false, wrongSize = false, noLength = false;
  Digest sha = NewSha256();
  if (!sha) return DownloadResult::NotWritten;
  auto stopped = [&] { return hooks.cancel && hooks.cancel->load(); };

  FetchResult r = net.Get(
      url,
      [&](int64_t length) {
        announced = length;
        if (length <= 0) {
          noLength = true;
          return false;
        }
        if (check.size >= 0 && length != check.size) {
          wrongSize = true;
          return false;
        }
        if (stopped()) {
          cancelled = true;
          return false;
        }
        // The file replaces what stands at its place only once it is whole.
        if (!out.Open(localPath, Existing::kReplace, check.mode) || ::fchmod(out.fd(), check.mode) != 0) {
          writeFailed = true;
          return false;
        }
        return true;
      },
      [&](const char* data, size_t size) {
        if (stopped()) {
          cancelled = true;
          return false;
        }
        if (received + int64_t(size) > announced) {
          wrongSize = true;  // more than announced: not the file the list means
          return false;
        }
        if (!out.Write(data, size)) {
          writeFailed = true;
          return false;
        }
        EVP_DigestUpdate(sha.get(), data, size);
        received += int64_t(size);
        if (hooks.percent) hooks.percent->store(int(received * 100 / announced));
        if (hooks.onBlock) hooks.onBlock(received);
        if (stopped()) {
          cancelled = true;
          return false;
        }
        return true;
      });

  // Whatever ends the transfer short discards the partial file (the
  // OutputFile does so when it goes uncommitted).
  if (cancelled) return DownloadResult::Cancelled;
  if (writeFailed) return DownloadResult::NotWritten;
  if (r.status == 404) return DownloadResult::NotFound;
  if (r.status < 200 || r.status >= 300) return DownloadResult::Failed;
  if (wrongSize) return DownloadResult::WrongSize;
  if (noLength) return DownloadResult::Failed;
  if (!out.is_open()) return DownloadResult::Failed;
  if (received != announced) return DownloadResult::Short;
  if (!r.transferred) return DownloadResult::Failed;
  if (check.size >= 0 && received != check.size) return DownloadResult::WrongSize;
  if (!check.sha256.empty() && HexOf(sha.get()) != Lower(check.sha256)) return DownloadResult::WrongDigest;
  if (!out.Commit()) return DownloadResult::NotWritten;
  return DownloadResult::Ok;
}

std::string FileSha256(const std::string& path) {
  int fd = safefile::OpenForReading(path, nullptr);
  if (fd < 0) return "";
  Digest sha = NewSha256();
  std::string out;
  if (sha) {
    char block[65536];
    ssize_t n;
    while ((n = ::read(fd, block, sizeof block)) > 0) EVP_DigestUpdate(sha.get(), block, size_t(n));
    if (n == 0) out = HexOf(sha.get());
  }
  ::close(fd);
  return out;
}

std::string FileVersionOf(const std::string& path) {
  // The mark each program carries (see CompiledFileVersion); the needle is
  // made here at run time so that this reader's own file does not hold it.
  std::string needle = "WBSOFY.GJMFWFSTJPO;";
  for (char& c : needle) c = char(c - 1);
  int fd = safefile::OpenForReading(path, nullptr);
  if (fd < 0) return "";
  std::string window;
  std::string version;
  char block[65536];
  ssize_t n;
  while ((n = ::read(fd, block, sizeof block)) > 0) {
    window.append(block, size_t(n));
    size_t at = window.find(needle);
    if (at != std::string::npos) {
      // Read on until the version's terminating zero is in the window.
      size_t end = window.find('\0', at);
      while (end == std::string::npos && window.size() - at < 256 && (n = ::read(fd, block, sizeof block)) > 0) {
        window.append(block, size_t(n));
        end = window.find('\0', at);
      }
      size_t start = at + needle.size();
      if (end != std::string::npos && end - start < 64) version = window.substr(start, end - start);
      break;
    }
    if (window.size() > needle.size()) window.erase(0, window.size() - needle.size());
  }
  ::close(fd);
  return version;
}

std::string FileTimeText(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "";
  struct tm t {};
  if (!localtime_r(&st.st_mtime, &t)) return "";
  char text[64];
  std::snprintf(text, sizeof text, "%d %d %d %d %d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min);
  return text;
}

bool SetFileTimeText(const std::string& path, const std::string& text) {
  struct tm t {};
  int year, month, day, hour, minute;
  char rest;
  if (std::sscanf(text.c_str(), "%d %d %d %d %d %c", &year, &month, &day, &hour, &minute, &rest) != 5) return false;
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_isdst = -1;
  time_t when = mktime(&t);
  if (when == time_t(-1)) return false;
  struct timespec times[2];
  times[0].tv_sec = when;
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string SafeRelativePath(const std::string& listPath) {
  std::string path;
  for (char c : listPath) path += c == '\\' ? '/' : c;
  if (path.empty() || path.front() == '/' || path.find('\0') != std::string::npos) return "";
  std::string out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return "";
    out += (out.empty() ? "" : "/") + part;
    start = end + 1;
  }
  return out;
}

UpdateList ReadUpdateList(const std::string& iniPath) {
  UpdateList list;
  auto get = [&](const std::string& key, const std::string& fallback = "") {
    return ini::GetString(iniPath, "update", key, fallback);
  };
  list.count = std::atoi(get("count", "0").c_str());
  if (list.count < 0) list.count = 0;
  list.count = std::min(list.count, 100000);
  list.soft = get("soft");
  list.mainExe = get("MainExe");
  for (int i = 1; i <= list.count; ++i) {
    const std::string n = std::to_string(i);
    UpdateEntry e;
    e.listPath = get("path" + n);
    e.path = SafeRelativePath(e.listPath);
    const std::string size = get("size" + n, "-1");
    char* end = nullptr;
    long long value = std::strtoll(size.c_str(), &end, 10);
    e.size = (end && *end == '\0' && !size.empty()) ? int64_t(value) : -1;
    e.version = get("ver" + n);
    e.time = get("time" + n);
    e.sha256 = Lower(get("sha" + n));
    list.entries.push_back(e);
  }
  return list;
}

bool NeedsDownload(const std::string& installed, const UpdateEntry& entry) {
  struct stat st;
  if (::stat(installed.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true;
  if (entry.size < 0 || int64_t(st.st_size) != entry.size) return true;
  if (!entry.sha256.empty()) return FileSha256(installed) != entry.sha256;
  std::string upper = installed;
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  const bool named = upper.ends_with(".EXE") || upper.ends_with(".DLL");
  const std::string version = FileVersionOf(installed);
  if (named || !version.empty()) return version != entry.version;
  return FileTimeText(installed) != entry.time;
}

bool FolderHoldsFiles(const std::string& folder) {
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  if (ec) return false;
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) return false;
    if (!it->is_directory(ec) || it->is_symlink(ec)) return true;
  }
  return false;
}

bool SameContent(const std::string& a, const std::string& b) {
  int fa = safefile::OpenForReading(a, nullptr);
  if (fa < 0) return false;
  int fb = safefile::OpenForReading(b, nullptr);
  if (fb < 0) {
    ::close(fa);
    return false;
  }
  bool same = true;
  char ba[65536], bb[65536];
  for (;;) {
    ssize_t na = ::read(fa, ba, sizeof ba);
    ssize_t nb = na > 0 ? ::read(fb, bb, size_t(na)) : ::read(fb, bb, 1);
    if (na < 0 || nb < 0 || na != nb || (na > 0 && std::memcmp(ba, bb, size_t(na)) != 0)) {
      same = false;
      break;
    }
    if (na == 0) break;
  }
  ::close(fa);
  ::close(fb);
  return same;
}

DownloadResult DownloadShowInfo(UpdateNetwork& net, const std::string& server, const std::string& language,
                                const std::string& writableDir, const std::atomic<bool>* cancel) {
  if (server.empty() || language.empty() || SafeRelativePath(language) != language ||
      language.find('/') != std::string::npos)
    return DownloadResult::Failed;
  const std::string folder = writableDir + "showinfo";
  std::error_code ec;
  fs::create_directories(folder, ec);
  DownloadHooks hooks;
  hooks.cancel = cancel;
  return Download(net, UpdateUrl(server, "showinfo/varnex/" + language + ".ini"), folder + "/" + language + ".ini",
                  {}, hooks);
}
