#include "app/HandOver.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace handover {

std::string SocketFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) return "";
  return std::string(runtime) + "/varnex";
}

std::string SocketPath() {
  std::string folder = SocketFolder();
  return folder.empty() ? "" : folder + "/handover";
}

bool MakeSocketFolder() {
  std::string folder = SocketFolder();
  if (folder.empty()) return false;
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return false;
  if ((st.st_mode & 0077) != 0 && chmod(folder.c_str(), 0700) != 0) return false;
  return true;
}

bool PeerIsSameUser(int fd) {
  struct ucred peer {};
  socklen_t size = sizeof(peer);
  if (fd < 0 || getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof(peer)) return false;
  return peer.uid == getuid();
}

namespace {
void PutLe32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(char((v >> (8 * i)) & 0xFF));
}
uint32_t GetLe32(const std::string& in, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | uint8_t(in[at + i]);
  return v;
}
}  // namespace

std::string Encode(uint32_t command, const std::string& path) {
  std::string out;
  PutLe32(&out, command);
  PutLe32(&out, uint32_t(path.size()));
  out += path;
  return out;
}

int Decode(std::string* buffer, uint32_t* command, std::string* path) {
  if (buffer->size() < kHeaderSize) return 0;
  uint32_t cmd = GetLe32(*buffer, 0);
  uint32_t length = GetLe32(*buffer, 4);
  if (length == 0 || length > kMaxPathBytes) return -1;
  if (buffer->size() < kHeaderSize + length) return 0;
  *command = cmd;
  *path = buffer->substr(kHeaderSize, length);
  buffer->erase(0, kHeaderSize + length);
  if (path->find('\0') != std::string::npos) return -1;
  return 1;
}

}  // namespace handover
