#pragma once
// What the update check and the updater share: the safe download, the update
// list ("update.ini") and how an installed file is compared with its entry.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/UpdateNetwork.h"
#include "foundation/TempFiles.h"  // RemoveTree

enum class DownloadResult {
  Ok,
  NotFound,     // the server answered 404 (or another failure status)
  Failed,       // no answer, a broken transfer, or a length of 0 or less
  Short,        // fewer bytes arrived than the server announced
  WrongSize,    // the file differs in size from the update list
  WrongDigest,  // the file's SHA-256 differs from the update list
  Cancelled,
  NotWritten,   // the file could not be written, flushed or renamed into place
};

struct DownloadCheck {
  int64_t size = -1;    // the size the list gives; -1: any
  std::string sha256;   // lower-case hex; "": not checked
  mode_t mode = 0644;   // permissions of the new file
};

struct DownloadHooks {
  std::atomic<int>* percent = nullptr;          // progress of this file, 0-100
  const std::atomic<bool>* cancel = nullptr;    // polled with every block
  std::function<void(int64_t received)> onBlock;  // tests stop the transfer here
};

// Fetches `url` into `localPath` through an OutputFile: the body goes into
// the partial file beside `localPath` (created exclusively, never through a
// link) and replaces a regular file at `localPath` only when it is complete:
// as long as the server announced, of the size and digest `check` asks for,
// and flushed to disk. Anything less, or a link or folder at `localPath`,
// leaves whatever `localPath` held before untouched.
DownloadResult Download(UpdateNetwork& net, const std::string& url, const std::string& localPath,
                        const DownloadCheck& check = {}, const DownloadHooks& hooks = {});
const char* DownloadResultText(DownloadResult result);

// SHA-256 of a file as lower-case hex; "" when it cannot be read.
std::string FileSha256(const std::string& path);

// The file version a program carries in its file ("4, 1, 9, 0"), found
// without running it; "" when the file carries none.
std::string FileVersionOf(const std::string& path);

// Last-write time in local time as "year month day hour minute".
std::string FileTimeText(const std::string& path);
// Sets the last-write time of `path` from such a text; false when the text
// is not one or the time cannot be set.
bool SetFileTimeText(const std::string& path, const std::string& text);

// A list path (folders separated by "\" or "/") as a path below the program
// folder, or "" when it could leave that folder or name nothing: absolute
// paths, "." and ".." parts and empty names are refused.
std::string SafeRelativePath(const std::string& listPath);

struct UpdateEntry {
  std::string path;     // relative, with "/"; "" when the list's entry is unsafe
  std::string listPath; // as the list writes it
  int64_t size = -1;
  std::string version;
  std::string time;
  std::string sha256;
};

struct UpdateList {
  int count = 0;
  std::string soft;     // product key and main program's name
  std::string mainExe;  // the main program's window title
  std::vector<UpdateEntry> entries;
};

UpdateList ReadUpdateList(const std::string& iniPath);

// Whether the installed file at `installed` differs from its entry: missing,
// another size, another version (a file that carries one) or another time.
bool NeedsDownload(const std::string& installed, const UpdateEntry& entry);

// Whether `folder` holds any file, in any of its subfolders.
bool FolderHoldsFiles(const std::string& folder);

// Whether the two files hold the same bytes (false when either is missing).
bool SameContent(const std::string& a, const std::string& b);

// The information button's items: fetches "showinfo/varnex/<language>.ini"
// from the update server into `writableDir` + "showinfo/". Nothing is
// fetched without a server or a language; a failed transfer keeps the items
// fetched before.
DownloadResult DownloadShowInfo(UpdateNetwork& net, const std::string& server, const std::string& language,
                                const std::string& writableDir, const std::atomic<bool>* cancel = nullptr);
