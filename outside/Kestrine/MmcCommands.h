#pragma once
// The MMC commands the device library sends and the virtual recorder
// answers: operation codes and the byte layouts both sides read and write.

#include <cstddef>
#include <cstdint>

namespace mmc {

// Operation codes.
constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kRequestSense = 0x03;
constexpr uint8_t kFormatUnit = 0x04;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kStartStopUnit = 0x1B;
constexpr uint8_t kPreventAllowRemoval = 0x1E;
constexpr uint8_t kReadFormatCapacities = 0x23;
constexpr uint8_t kReadCapacity = 0x25;
constexpr uint8_t kRead10 = 0x28;
constexpr uint8_t kWrite10 = 0x2A;
constexpr uint8_t kSynchronizeCache = 0x35;
constexpr uint8_t kReadSubChannel = 0x42;
constexpr uint8_t kReadTocPmaAtip = 0x43;
constexpr uint8_t kGetConfiguration = 0x46;
constexpr uint8_t kReadDiscInformation = 0x51;
constexpr uint8_t kReadTrackInformation = 0x52;
constexpr uint8_t kReserveTrack = 0x53;
constexpr uint8_t kModeSelect10 = 0x55;
constexpr uint8_t kModeSense10 = 0x5A;
constexpr uint8_t kCloseTrackSession = 0x5B;
constexpr uint8_t kReadBufferCapacity = 0x5C;
constexpr uint8_t kSendCueSheet = 0x5D;
constexpr uint8_t kBlank = 0xA1;
constexpr uint8_t kRead12 = 0xA8;
constexpr uint8_t kWrite12 = 0xAA;
constexpr uint8_t kGetPerformance = 0xAC;
constexpr uint8_t kReadDvdStructure = 0xAD;
constexpr uint8_t kSetStreaming = 0xB6;
constexpr uint8_t kSetCdSpeed = 0xBB;
constexpr uint8_t kReadCd = 0xBE;
constexpr uint8_t kSendDvdStructure = 0xBF;

// Mode pages.
constexpr uint8_t kPageWriteParameters = 0x05;
constexpr uint8_t kPageCapabilities = 0x2A;

// Write parameters page (05), from its page code byte.
namespace wp {
constexpr size_t kFlags = 2;            // BUFE 0x40, LS_V 0x20, test write 0x10, write type (low 4 bits)
constexpr size_t kTrack = 3;            // multi-session (top 2 bits), FP 0x20, track mode (low 4 bits)
constexpr size_t kDataBlockType = 4;    // low 4 bits
constexpr size_t kLinkSize = 5;
constexpr size_t kSessionFormat = 8;
constexpr size_t kPacketSize = 10;      // 4 bytes, big-endian
constexpr size_t kAudioPauseLength = 14;  // 2 bytes, big-endian
constexpr uint8_t kBufE = 0x40, kLinkSizeValid = 0x20, kTestWrite = 0x10, kFixedPacket = 0x20;
}  // namespace wp

// READ DISC INFORMATION answer (standard disc information).
namespace di {
constexpr size_t kStatus = 2;           // erasable 0x10, last session state (bits 2-3), disc status (bits 0-1)
constexpr size_t kFirstTrack = 3;
constexpr size_t kSessionsLsb = 4, kFirstTrackLastSessionLsb = 5, kLastTrackLastSessionLsb = 6;
constexpr size_t kFormatStatus = 7;     // background format status (low 2 bits)
constexpr size_t kDiscType = 8;
constexpr size_t kSessionsMsb = 9, kFirstTrackLastSessionMsb = 10, kLastTrackLastSessionMsb = 11;
constexpr size_t kLastSessionLeadIn = 16, kLastPossibleLeadOut = 20;
constexpr uint8_t kErasable = 0x10;
}  // namespace di

}  // namespace mmc
