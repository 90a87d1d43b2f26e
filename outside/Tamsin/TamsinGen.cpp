// Writes the Tamsin resources ("<number>.dat") into the folder given on the
// command line. Each resource comes from the project's own writer of that
// structure; the build runs this program, so the resources always match the
// code that patches them.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "OutputFile.h"

#include "authoring/DvdVolume.h"
#include "authoring/UdfVolumeTemplate.h"
#include "authoring/VcdControlTemplate.h"

namespace {

// Each build makes the resources anew: the ones of an earlier build are replaced.
bool WriteResource(const std::string& folder, uint32_t number, const std::vector<uint8_t>& data) {
  const std::string path = folder + "/" + std::to_string(number) + ".dat";
  std::string why;
  const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
  if (!WriteWholeFile(path, bytes, Existing::kReplace, &why)) {
    std::fprintf(stderr, "TamsinGen: cannot write %s\n", why.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: TamsinGen OUTPUT-FOLDER\n");
    return 2;
  }
  std::string folder = argv[1];
  bool ok = WriteResource(folder, udftpl::kResourceNumber, MakeUdfVolumeTemplate());
  for (vcdtpl::Kind kind : {vcdtpl::Kind::VideoCd, vcdtpl::Kind::SuperVideoCd})
    ok = WriteResource(folder, vcdtpl::ResourceNumber(kind), vcdtpl::MakeVcdControlTemplate(kind)) && ok;
  ok = WriteResource(folder, dvdvol::kFileEntryResource, MakeDvdFileEntryTemplate()) && ok;
  ok = WriteResource(folder, dvdvol::kEndResource, MakeDvdEndTemplate()) && ok;
  // The DVD header is a resource of the second resource folder.
  const std::string extra = folder + "/../TamsinEx";
  ok = WriteResource(extra, dvdvol::kHeaderResource, MakeDvdHeaderTemplate()) && ok;
  return ok ? 0 : 1;
}
