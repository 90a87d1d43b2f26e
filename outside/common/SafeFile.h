#pragma once
// The checked system calls beneath the files the programs write (which come
// into being through OutputFile.h), and how every file they read is opened.
// A file to be read is opened without blocking and refused unless it is a
// regular file, so a FIFO or a device never stalls a command in open().

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace safefile {

// The reason of a failed system call as the user reads it.
inline std::string ErrorText(int err) {
  if (err == ENOSPC || err == EDQUOT) return "the disk is full";
  if (err == EEXIST) return "a file of that name is in the way";
  if (err == ELOOP) return "the name is a symbolic link";
  return std::strerror(err);
}

// A new file at `path`; -1 (errno set) when anything already has that name,
// a symbolic link included.
inline int CreateNew(const std::string& path, int access = O_RDWR, mode_t mode = 0644) {
  return ::open(path.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

inline bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    p += n;
    size -= size_t(n);
  }
  return true;
}

inline bool PwriteAll(int fd, const void* data, size_t size, off_t at) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::pwrite(fd, p, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    p += n;
    at += n;
    size -= size_t(n);
  }
  return true;
}

// Exactly `size` bytes at `at`; false at the end of the file (errno 0) or
// on an error (errno set).
inline bool PreadAll(int fd, void* data, size_t size, off_t at) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    ssize_t n = ::pread(fd, p, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = 0;
      return false;
    }
    p += n;
    at += n;
    size -= size_t(n);
  }
  return true;
}

// What stands at `path` that a new file must not silently replace: "" when
// the name is free or holds an empty regular file, otherwise its description.
inline std::string InTheWay(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return "";
  if (S_ISLNK(st.st_mode)) return "is a symbolic link";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  if (st.st_size > 0) return "already exists";
  return "";
}

// Opens a regular file for reading; -1 with `why` set for anything else (a
// FIFO, a device, a socket, a folder) without ever waiting in open(). `st`,
// when given, receives what the open file is (callers need not ask again).
inline int OpenForReading(const std::string& path, std::string* why, struct stat* st = nullptr) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (why) *why = path + ": " + ErrorText(errno);
    return -1;
  }
  struct stat own;
  if (!st) st = &own;
  if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    ::close(fd);
    if (why) *why = path + ": not a regular file";
    return -1;
  }
  // Blocking reads from here on. O_NONBLOCK is the only status flag this
  // open set, so clearing all of them needs no look at them first.
  (void)::fcntl(fd, F_SETFL, 0);
  return fd;
}

// True when `path` names a regular file (following links); `why` says why not.
inline bool IsRegularFile(const std::string& path, std::string* why) {
  int fd = OpenForReading(path, why);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace safefile
