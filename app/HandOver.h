#pragma once
// The hand-over from the file manager's context menu to a running main
// window: a per-user local socket in $XDG_RUNTIME_DIR/varnex/ (folder mode
// 0700). The sender writes one message per path; each is answered by a
// one-byte reply, in order. A sender may write several messages before it
// reads their replies, and the window then adds those paths together:
//
//   bytes 0-3   command, little-endian: 101 audio CD, 102 data disc,
//               103 MP3 disc, 104 VCD, 105 SVCD, 106 DVD
//   bytes 4-7   length n of the path, little-endian, at most kMaxPathBytes
//   bytes 8-    the path, n bytes of UTF-8, no terminating zero
//
//   reply       1 when the path was taken into the project, 0 otherwise
//
// Command 200 (kCloseCommand) asks the window to close as its own Close
// would; the reply says whether it accepted.

#include <cstdint>
#include <string>

namespace handover {

constexpr uint32_t kFirstCommand = 101;
constexpr uint32_t kLastCommand = 106;
// The updater asks the main window to close (the path field holds "close").
constexpr uint32_t kCloseCommand = 200;
constexpr uint32_t kMaxPathBytes = 65536;
constexpr size_t kHeaderSize = 8;

// The folder of the socket ("" when $XDG_RUNTIME_DIR is unset) and its path.
std::string SocketFolder();
std::string SocketPath();
// Creates the folder with mode 0700; false when it cannot be made private.
bool MakeSocketFolder();

std::string Encode(uint32_t command, const std::string& path);

// Whether the process at the other end of the connected local socket `fd`
// runs as this program's own user. Another user's files never reach the
// project, even where the folder's mode would let that user in.
bool PeerIsSameUser(int fd);

// Reads one message from the front of `buffer`. Returns 1 and removes it when
// complete, 0 when more bytes are needed, -1 when the bytes cannot be a
// message (the connection is then dropped).
int Decode(std::string* buffer, uint32_t* command, std::string* path);

}  // namespace handover
