#pragma once
// The names a file or folder gets in the two hierarchies of an ISO 9660
// volume: the ISO identifier (bytes of the disc name, shortened to 8.3) and
// the Joliet name (16-bit characters). Both are made unique within a folder.

#include <string>
#include <vector>

namespace discnames {

// Joliet names longer than this are shortened: a record must fit its one-byte
// length, and this is the longest name every Joliet reader takes.
constexpr size_t kJolietMaxChars = 103;

// The ISO identifier of a file ("NAME.EXT;1", "longfi;1", or the name itself
// when it has no dot and at most 8 bytes) and of a folder (its first 8 bytes).
std::string IsoFileIdentifier(const std::string& name);
std::string IsoFolderIdentifier(const std::string& name);

struct FolderEntryName {
  std::string discName;   // as the project holds it
  bool isFolder = false;
  // Results:
  std::string iso;        // ISO identifier, unique in the folder
  std::u16string joliet;  // Joliet name (without ";1"), unique in the folder
  bool jolietShortened = false;
  bool refused = false;   // the name is not valid UTF-8
};

// `name` with `suffix` ("~2") worked in before its extension, cut to at most
// `maxChars` 16-bit characters; the extension (up to 16 characters, files
// only) is kept. `shortened` tells whether the result differs from `name`.
// Used for Joliet names and for UDF identifiers alike.
std::u16string ShortenWithSuffix(const std::u16string& name, bool isFolder, const std::u16string& suffix,
                                 size_t maxChars, bool* shortened);

// Names every entry of one folder. The first of colliding entries keeps its
// plain identifier; later ones get a number in place of their last letters.
void NameFolderEntries(std::vector<FolderEntryName>* entries);

// One entry of a folder on a UDF disc: the project's name and the name its
// identifier gets.
struct UdfEntryName {
  std::u16string full;
  bool isFolder = false;
  // Results:
  std::u16string name;
  bool changed = false;  // shortened or numbered
};

// Names every entry of one UDF folder, for the pre-burn review and the
// layout alike. Names longer than `maxChars` are cut before their extension,
// and where two entries meet (one name given twice, or a cut name meeting
// another) the later one ends in "~N" before its extension, N counting up
// until the name is free. Whole names are placed first, so that a cut name
// never takes the name of a whole one.
void NameUdfEntries(std::vector<UdfEntryName>* entries, size_t maxChars);

}  // namespace discnames
