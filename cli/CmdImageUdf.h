#pragma once
// The UDF side of "varnex-cli image --udf": the project is staged and saved
// as a burn job by the image command; this lays it out with CDataFileUDF.

#include <cstdint>
#include <string>

#include "authoring/TrackImageBuilder.h"

using TrackWriter = bool (*)(TrackImageBuilder* track, const std::string& out);

// Returns the process exit status.
int RunImageUdf(const std::string& jobPath, const std::string& stagingRoot, uint32_t sessionStart,
                const std::string& out, TrackWriter write);
