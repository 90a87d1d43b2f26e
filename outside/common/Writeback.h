#pragma once
// Long writes of whole discs and copy files start their way to the disk as
// they go, so that the disk works while more is written and the flush that
// decides success (fsync, fdatasync, syncfs) has little left to wait for.

#include <fcntl.h>
#include <sys/types.h>

#include <cstddef>

namespace safefile {

// After a write of `size` bytes at `at`: when it ended a block of 8 MiB of
// the file, starts the writing of that block. A hint only: nothing is judged
// by it, and only a later flush says whether the data is on disk.
inline void StartWriteback(int fd, off_t at, size_t size) {
  constexpr off_t kBlock = off_t(8) << 20;
  const off_t end = at + off_t(size);
  if (at / kBlock != end / kBlock)
    (void)::sync_file_range(fd, (end / kBlock - 1) * kBlock, kBlock, SYNC_FILE_RANGE_WRITE);
}

}  // namespace safefile
