#pragma once
// How every file the programs write for a user comes into being: images,
// exports, project files, copy files, saved sectors, ripped tracks, extracted
// files, settings and downloads alike.
//
// The file is written as "NAME.part", created exclusively and never through a
// link, with every write checked; Commit() flushes it to disk and only then
// renames it to NAME, without replacing anything that appeared there unless
// the caller was asked to replace. On any failure, and when the object goes
// away uncommitted, the partial file is removed and NAME is left as it was.
//
// A partial file is recognised as ours by a marker beside it
// ("NAME.part.owner": program, process id and the partial file's inode). A
// later run removes a partial file whose writer is gone; a file of that name
// that carries no such marker belongs to somebody else and is never touched.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

// What may stand at the place of a new file.
enum class Existing {
  kKeep,     // anything at the place refuses the write
  kReplace,  // a regular file there is replaced whole once the new one is on disk
};

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;

  // Checks the place and creates the partial file. False with Error() set
  // when something is in the way or the partial file cannot be made.
  bool Open(const std::string& path, Existing existing = Existing::kKeep, mode_t mode = 0644);

  bool Write(const void* data, size_t size);
  bool WriteAt(const void* data, size_t size, off_t at);
  bool Write(std::string_view text) { return Write(text.data(), text.size()); }

  // Flushes, closes and renames the partial file into place. False with
  // Error() set; the partial file is gone and the place is as it was.
  bool Commit();
  // Gives the partial file up (nothing happens once committed).
  void Discard();

  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  const std::string& partial() const { return partial_; }
  // "PATH: reason", for the user.
  const std::string& Error() const { return error_; }

 private:
  bool Fail(const std::string& name, int err);

  int fd_ = -1;
  Existing existing_ = Existing::kKeep;
  std::string path_, partial_, error_;
};

// Why `existing` forbids writing at `path`: "" when it may be written,
// otherwise a description ("already exists", "is a symbolic link", ...). A
// symbolic link or anything but a regular file is refused even when asked to
// replace, so that a write never lands where a link points.
std::string OutputInTheWay(const std::string& path, Existing existing);

// The partial file name of `path`, and removal of a partial file that an
// earlier run of ours left behind when its writer is gone. False (with
// `why`) when a partial file is in the way that is not ours to remove.
std::string PartialPath(const std::string& path);
bool ClearStalePartial(const std::string& path, std::string* why);

// Writes `bytes` whole to `path` through an OutputFile.
bool WriteWholeFile(const std::string& path, std::string_view bytes, Existing existing, std::string* why,
                    mode_t mode = 0644);

// The reason of a failed system call as the user reads it.
std::string OutputErrorText(int err);
