#pragma once
// The update check, the updater and the information button fetch their files
// from the update server with plain GETs. They see the network only through
// this interface, so that tests can serve, cut short or fail any transfer.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct FetchResult {
  long status = 0;      // the HTTP status; 0 when no answer came
  int64_t length = -1;  // the announced Content-Length; -1 when none was given
  bool transferred = false;  // the body arrived without a transport error
  std::string error;    // what went wrong, for messages and logs
};

class UpdateNetwork {
 public:
  virtual ~UpdateNetwork() = default;
  // The status the server answers for `url` without fetching the body.
  virtual long Status(const std::string& url) = 0;
  // Fetches `url`. `onLength` learns the announced length (-1 when none)
  // before the first block; `onBlock` takes each block of the body. Either
  // returning false ends the transfer, which then does not count as
  // transferred.
  virtual FetchResult Get(const std::string& url, const std::function<bool(int64_t)>& onLength,
                          const std::function<bool(const char*, size_t)>& onBlock) = 0;
};

// The network over libcurl (http and https), with a forced reload past any
// cache. `caFile` names certificates to trust besides the system's ones
// ("" for the system's alone).
std::unique_ptr<UpdateNetwork> MakeCurlNetwork(const std::string& caFile = "");

// Where the update server lives, from the machine-wide settings: the
// "UpdateServer" key ("" when none, which means nothing is ever fetched),
// without a trailing "/"; and "UpdateServerCA", extra certificates to trust.
std::string UpdateServerAddress();
std::string UpdateServerCaFile();

// `server` + "/" + `path`, with every "\" of the path turned into "/" and
// runs of "/" between the parts made single.
std::string UpdateUrl(const std::string& server, const std::string& path);
