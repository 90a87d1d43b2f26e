#pragma once
// A local update server for the tests: python3's HTTP server on 127.0.0.1
// over a folder, plain or over TLS with a certificate made for the test by
// openssl. A file "NAME.short" beside NAME makes the server announce that
// many more bytes for NAME than it sends, then drop the connection.

#include <sys/types.h>

#include <string>

class TestUpdateServer {
 public:
  // Serves `root` at once; the port is known when the constructor returns
  // (the server reports it once it listens). `tls`: https with a fresh
  // self-signed certificate for 127.0.0.1, found at CaFile().
  explicit TestUpdateServer(const std::string& root, bool tls = false);
  ~TestUpdateServer();
  TestUpdateServer(const TestUpdateServer&) = delete;
  TestUpdateServer& operator=(const TestUpdateServer&) = delete;

  bool Running() const { return port_ > 0; }
  std::string Url() const;  // "http://127.0.0.1:PORT" or "https://..."
  std::string CaFile() const { return ca_; }
  const std::string& Error() const { return error_; }

 private:
  std::string work_, ca_, error_;
  bool tls_;
  pid_t pid_ = -1;
  int port_ = 0;
};
