#pragma once
// The POSIX layer of an ISO 9660 volume: the System Use Sharing entries a
// directory record carries (SP, CE, ER) and the Rock Ridge entries on them
// (PX, TF, NM, SL), built for the writer and decoded for the reader. Each
// entry is at most 255 bytes; what does not fit the record goes to a
// continuation area that the record's CE entry points at.

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace rockridge {

// What a record says about its file beyond the ISO 9660 fields.
struct Attributes {
  uint32_t mode = 0;  // st_mode, type bits included
  uint32_t links = 1, uid = 0, gid = 0;
  time_t modified = 0, accessed = 0, changed = 0;
};

// The owners and permissions of a disc handed to others: owner 0, readable
// by all, executable by all where anyone could execute it, nothing writable
// and no set-id or sticky bits.
Attributes Normalised(const Attributes& a);

// The moment a seven-byte recording date names (0 for a date that is no date).
time_t RecordTime(const uint8_t* date);

// ---- entries

constexpr size_t kMaxEntry = 255;
constexpr size_t kContinuationEntry = 28;  // size of a CE entry

std::string SharingIndicator();  // SP, first entry of the root's "." record
std::string Extension();         // ER naming the Rock Ridge protocol
std::string Presence(bool link);  // RR: which entries follow (for readers of the 1991 drafts)
std::string Posix(const Attributes& a);  // PX
std::string Times(const Attributes& a);  // TF: modify and attribute change
// NM: the name, in as many entries as it needs.
std::vector<std::string> Names(const std::string& name);
// SL: the link's target as the source holds it, relative or absolute, in as
// many entries as it needs.
std::vector<std::string> Link(const std::string& target);
std::string Continuation(uint32_t block, uint32_t offset, uint32_t length);

// Folders deeper than ISO 9660 allows stand in a folder of moved folders at
// the top. Where such a folder belongs, a file record carries CL with the
// folder's block; the moved folder's own record carries RE, and its ".."
// record PL with the block of the folder it belongs in.
std::string ChildLink(uint32_t block);   // CL
std::string ParentLink(uint32_t block);  // PL
std::string Relocated();                 // RE
constexpr size_t kLinkBlockAt = 4;       // where the block lies in CL and PL

// ---- placement

// Where `entries` went: the record's system use area, and the continuation
// area bytes. The CE entries carry block numbers relative to the start of the
// continuation area; `ceOffsets` lists where each CE's block field lies
// (negative for the system use area: -1 - offset into it; otherwise an
// offset into the continuation area), so the writer adds the area's block
// once it knows it.
struct Placement {
  std::string systemUse;
  std::vector<long> ceOffsets;
};
// Places `entries` in at most `room` bytes of the record, the rest in
// `continuation` (appended, each piece within one sector, pieces chained by
// CE entries).
Placement Place(const std::vector<std::string>& entries, size_t room, std::string* continuation);
// Adds `base` to the block field of a CE entry whose block field is at `p`.
void RebaseContinuation(uint8_t* p, uint32_t base);

// ---- reading

struct Decoded {
  bool any = false;     // Rock Ridge entries were found
  bool hasAttributes = false;
  Attributes attributes;
  bool hasTimes = false;  // without an access time it is the modification time
  bool hasName = false;
  std::string name;
  bool isLink = false;
  std::string linkTarget;
  bool relocated = false;  // RE: the folder stands elsewhere as well
  bool hasChildLink = false;  // CL: a folder moved away, at this block
  uint32_t childLink = 0;
  std::string damage;  // why decoding stopped early, "" when it did not
};
// Reads one continuation area: `length` bytes at `offset` of `block`.
using ReadArea = std::function<bool(uint32_t block, uint32_t offset, uint32_t length, std::string* out)>;
// Decodes the system use area of a record (after `skip` bytes, as the SP
// entry of the volume says). At most 64 continuation areas are followed, so
// a CE loop ends.
Decoded Decode(const uint8_t* systemUse, size_t bytes, size_t skip, const ReadArea& read);
// True when the system use of a root "." record starts with an SP entry;
// `skip` gets its skip count.
bool HasSharingIndicator(const uint8_t* systemUse, size_t bytes, size_t* skip);

}  // namespace rockridge
