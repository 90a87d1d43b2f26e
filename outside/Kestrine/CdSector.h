#pragma once
// Raw CD sectors: sync, header, sub-header, EDC and the Reed-Solomon product
// code (ECC), built the way a recorder lays them on the disc.

#include <cstddef>
#include <cstdint>

#include "CdTime.h"
#include "SectorSizes.h"

namespace cdsector {

constexpr int kRawSize = kRawSectorSize;

enum class Mode : uint8_t {
  Audio,          // 2352 bytes of PCM
  Mode1,          // 2048 user bytes
  Mode2Form1,     // 2048 user bytes
  Mode2Form2,     // 2324 user bytes
  Mode2Formless,  // 2336 user bytes
};

// User bytes of a sector of this mode.
int UserSize(Mode mode);

// The EDC over `size` bytes (CRC-32 of the CD, low byte first on disc).
uint32_t Edc(const uint8_t* data, size_t size);

// Fills the P and Q parity of a Mode 1 / Mode 2 Form 1 sector whose header
// and data are in place. Mode 2 computes with the header bytes taken as zero.
void FillEcc(uint8_t* raw, bool zeroHeader);

// Builds a raw sector for `lba`. `user` holds UserSize(mode) bytes; for Mode 2
// forms `subheader` gives the 4 bytes repeated twice (nullptr: a data
// sub-header of the right form).
void Encode(int32_t lba, Mode mode, const uint8_t* user, uint8_t* raw,
            const uint8_t* subheader = nullptr);

// Builds a Mode 2 sector from 2332 bytes: 8 sub-header bytes then 2324, of
// which the form is chosen by the sub-header's form bit.
void EncodeMode2Mixed(int32_t lba, const uint8_t* data2332, uint8_t* raw);

// Reads a raw sector: the mode from its header (Audio when there is no sync).
Mode ModeOf(const uint8_t* raw);
// Offset of the user data in a raw sector of that mode.
int UserOffset(Mode mode);

using ::ToBcd;

}  // namespace cdsector
