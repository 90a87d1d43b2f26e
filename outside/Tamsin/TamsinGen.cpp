// Writes the Tamsin resources ("<number>.dat") into the folder given on the
// command line. Each resource comes from the project's own writer of that
// structure; the build runs this program, so the resources always match the
// code that patches them.

#include <cstdio>
#include <string>
#include <vector>

#include "authoring/DvdVolume.h"
#include "authoring/UdfVolumeTemplate.h"
#include "authoring/VcdControlTemplate.h"

namespace {

bool WriteResource(const std::string& folder, uint32_t number, const std::vector<uint8_t>& data) {
  std::string path = folder + "/" + std::to_string(number) + ".dat";
  std::string part = path + ".part";
  FILE* f = std::fopen(part.c_str(), "wb");
  if (!f) {
    std::perror(part.c_str());
    return false;
  }
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok || std::rename(part.c_str(), path.c_str()) != 0) {
    std::fprintf(stderr, "TamsinGen: cannot write %s\n", path.c_str());
    std::remove(part.c_str());
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
