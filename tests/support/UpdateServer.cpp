#include "UpdateServer.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "RunCommand.h"
#include "foundation/TempFiles.h"

namespace {

const char kServer[] = R"PY(
import http.server, os, ssl, sys

root = sys.argv[1]

class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *a, **k):
        super().__init__(*a, directory=root, **k)

    def log_message(self, *a):
        pass

    def do_GET(self):
        local = self.translate_path(self.path)
        if os.path.isfile(local + ".short") and os.path.isfile(local):
            extra = int(open(local + ".short").read().strip() or "100")
            body = open(local, "rb").read()
            self.send_response(200)
            self.send_header("Content-Length", str(len(body) + extra))
            self.end_headers()
            self.wfile.write(body)
            self.wfile.flush()
            self.close_connection = True
            return
        super().do_GET()

server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
if len(sys.argv) > 3:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[2], sys.argv[3])
    server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
)PY";

}  // namespace

TestUpdateServer::TestUpdateServer(const std::string& root, bool tls) : tls_(tls) {
  work_ = MakeTempFolder("VarnexServer");
  const std::string script = work_ + "/server.py";
  std::ofstream(script) << kServer;
  std::string cert, key;
  if (tls) {
    cert = work_ + "/cert.pem";
    key = work_ + "/key.pem";
    CommandResult made = RunCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
                                    " -addext subjectAltName=IP:127.0.0.1 -keyout " + Quoted(key) +
                                    " -out " + Quoted(cert));
    if (made.status != 0) {
      error_ = "openssl could not make the certificate: " + made.output;
      return;
    }
    ca_ = cert;
  }
  int out[2];
  if (pipe(out) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    if (tls)
      execlp("python3", "python3", script.c_str(), root.c_str(), cert.c_str(), key.c_str(), nullptr);
    else
      execlp("python3", "python3", script.c_str(), root.c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  // The server writes its port once it listens; reading waits for exactly that.
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  port_ = std::atoi(line.c_str());
  if (port_ <= 0) error_ = "the test server did not start";
}

TestUpdateServer::~TestUpdateServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status;
    waitpid(pid_, &status, 0);
  }
  RemoveTree(work_);
}

std::string TestUpdateServer::Url() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}
