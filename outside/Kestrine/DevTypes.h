#pragma once
// Value types of the device library: what a drive answers, in a form callers
// can keep and copy. The raw MMC response layouts are parsed here once.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CdTime.h"
#include "MediumTable.h"
#include "SenseText.h"

// What kind of drive this is, judged from its features.
// 0 and 2 cannot erase; 5, 8 and 9 write DVD-R in track mode 5.
enum CD_DEV_TYPE : int {
  DEV_CDROM = 0,       // reads CDs only
  DEV_CDRW = 1,        // CD writer
  DEV_DVDROM = 2,      // reads DVDs, writes nothing
  DEV_DVDPLUS = 3,     // writes DVD+R/+RW (and CDs)
  DEV_DVDRAM = 4,      // writes DVD-RAM (and CDs)
  DEV_DVDMINUS = 5,    // writes DVD-R/-RW only
  DEV_DVDMULTI = 6,    // writes DVD+ and DVD- media
  DEV_DVDPLUS_DL = 7,  // as 6, plus DVD+R DL
  DEV_DVDMINUS_DL = 8, // as 6, plus DVD-R DL
  DEV_BD = 9,          // BD writer
};

enum BLANK_TYPE : int { BLANK_FULL = 0, BLANK_MINIMAL = 1 };

// Address kinds of READ TRACK INFORMATION.
enum READ_TRACK_INFO_TYPE : int { RTI_LBA = 0, RTI_TRACK = 1, RTI_SESSION = 2 };

// Status of device commands: 0 is success; the SCSI status byte of the answer
// otherwise (2 = check condition, sense data kept), or one of these for
// failures that never reached the medium.
enum : uint32_t {
  DEV_OK = 0,
  DEV_CHECK_CONDITION = 2,
  DEV_BUSY = 8,
  DEV_TRANSPORT_FAILED = 0x101,  // device gone, pass-through refused, timed out
  DEV_BAD_RESPONSE = 0x102,      // the answer was too short or inconsistent
  DEV_NOT_AVAILABLE = 0x103,     // the answer did not hold what was asked for
  DEV_BAD_ARGUMENT = 0x104,      // the caller's buffer or values do not fit
};

// Transport-level state of the last failed command (in the manner of a
// pass-through request block).
enum : uint8_t {
  SRB_SUCCESS = 0x01,
  SRB_ERROR = 0x04,
  SRB_NO_DEVICE = 0x08,
  SRB_TIMEOUT = 0x09,
  SRB_INVALID_REQUEST = 0x0E,
  SRB_BAD_RESPONSE = 0x12,
};

struct SenseData {
  uint8_t SenseKey = 0;
  uint8_t ASC = 0;
  uint8_t ASCQ = 0;
  uint8_t SRBStatus = SRB_SUCCESS;
};

inline std::string SenseCodes(const SenseData& s) { return SenseCodes(s.SenseKey, s.ASC, s.ASCQ); }
inline std::string SenseText(const SenseData& s) { return SenseText(s.SenseKey, s.ASC, s.ASCQ); }

// READ DISC INFORMATION (standard disc information, 34 bytes).
struct DISC_INFO {
  uint16_t DataLength = 0;
  bool Erasable = false;
  uint8_t LastSessionState = 0;  // 0 empty, 1 incomplete, 3 complete
  uint8_t DiscStatus = 0;        // 0 empty, 1 appendable, 2 complete, 3 other
  uint16_t FirstTrack = 0;
  uint16_t SessionCount = 0;
  uint16_t FirstTrackLastSession = 0;
  uint16_t LastTrackLastSession = 0;
  uint8_t BgFormatStatus = 0;
  uint8_t DiscType = 0;  // 0x00 CD-DA/CD-ROM, 0x10 CD-I, 0x20 CD-ROM XA
  uint32_t LastSessionLeadIn = 0;
  uint32_t LastPossibleLeadOut = 0;
  uint8_t Raw[34] = {};
  bool Parse(const uint8_t* data, size_t size);
};

// READ TRACK INFORMATION (48 bytes).
struct TRACK_INFO {
  uint16_t TrackNumber = 0;
  uint16_t SessionNumber = 0;
  bool Damage = false, Copy = false;
  uint8_t TrackMode = 0;  // control nibble: 0-3 audio, 4-7 data
  bool RT = false, Blank = false, Packet = false, FP = false;
  uint8_t DataMode = 0;  // 1 Mode 1, 2 Mode 2, 0xF unknown
  bool LRA_V = false, NWA_V = false;
  uint32_t TrackStart = 0;
  uint32_t NextWritable = 0;
  uint32_t FreeBlocks = 0;
  uint32_t FixedPacketSize = 0;
  uint32_t TrackSize = 0;
  uint32_t LastRecorded = 0;
  uint8_t Raw[48] = {};
  bool Parse(const uint8_t* data, size_t size);
};

// INQUIRY (standard data, 96 bytes asked for).
struct INQUIRYDATA {
  uint8_t DeviceType = 0;
  bool Removable = false;
  char VendorId[9] = {};
  char ProductId[17] = {};
  char ProductRevision[5] = {};
  uint8_t Raw[96] = {};
  bool Parse(const uint8_t* data, size_t size);
  // "VENDOR PRODUCT REV" with the blanks of each field trimmed.
  std::string Text() const;
};

// Mode page 2A, the drive's capabilities, read from its page code on.
struct CAPABILITIES_PAGE {
  uint8_t ReadBits = 0;   // 0x01 CD-R, 0x02 CD-RW, 0x08 DVD-ROM, 0x10 DVD-R, 0x20 DVD-RAM
  uint8_t WriteBits = 0;  // 0x01 CD-R, 0x02 CD-RW, 0x04 test write, 0x10 DVD-R, 0x20 DVD-RAM
  uint16_t MaxReadSpeed = 0;  // kB/s, as are all speeds here
  uint16_t CurrentReadSpeed = 0;
  uint16_t CurrentWriteSpeed = 0;
  std::vector<uint16_t> WriteSpeeds;  // the descriptors, in the drive's order, up to the first 0
  // False when the answer is not page 2A; fields the page is too short for stay 0.
  bool Parse(const uint8_t* page, size_t size);
  // Writes CD-R, CD-RW, DVD-R or DVD-RAM: what makes a recorder of an older drive.
  bool Writes() const { return (WriteBits & 0x33) != 0; }
  // The fastest, the slowest and the second fastest of the first ten listed
  // speeds, with `unit` (1x of the medium) among them even if not listed.
  struct SpeedChoice {
    uint16_t Max = 0, Low = 0, Second = 0;
  };
  SpeedChoice WriteSpeedChoice(uint16_t unit) const;
};

// An address of the table of contents: extension byte, minute, second, frame.
struct TocAddress {
  uint8_t X = 0, M = 0, S = 0, F = 0;
};
int32_t TocAddressToLba(const TocAddress& a);  // 0xFFFFFF: none
TocAddress LbaToTocAddress(int32_t lba);

// One session's table of contents.
struct TocData {
  struct _Data {
    uint8_t AdrCtrl = 0;  // ADR in the high nibble, control in the low one
    uint8_t TrackNo = 0;
    TocAddress Addr;
    bool IsData() const { return (AdrCtrl & 0x04) != 0; }
  };
  uint8_t FirstTrack = 0;
  uint8_t LastTrack = 0;
  int TrackCount = 0;
  uint8_t DiscType = 0;  // from the A0 entry
  std::vector<_Data> Data;
  TocAddress LeadOut;
};

// The whole disc from the full TOC.
struct SessionInfo {
  uint8_t FirstSession = 0;
  uint8_t LastSession = 0;
  std::vector<TocData> Sessions;  // index 0 is session FirstSession
};

// Builds SessionInfo from a READ TOC format 2 answer (header included).
// False when the answer is malformed: lengths past the data, sessions out of
// order, track points outside 1-99 or missing A0/A1/A2 entries.
bool ParseFullToc(const uint8_t* data, size_t size, SessionInfo& out);
// Builds one TocData from a READ TOC format 0 answer.
bool ParseFormattedToc(const uint8_t* data, size_t size, TocData& out);

// CD-Text by track; index 0 holds the disc's own texts.
struct FS_CDTEXT_INFO {
  struct Track {
    char szTitle[160] = {};
    char szArtist[160] = {};
    char szSpecialTitle[160] = {};  // the message text
    char szComposer[160] = {};
    char szSongster[160] = {};      // the songwriter
    char szISRC[17] = {};
  };
  Track Tracks[100];
};

// Write parameters, 16 bytes by value. Byte meanings on the wire (mode page 05):
// TrackMode, LinkSize (also the fixed packet size), TestWrite, BufE (underrun
// protection), MultiSession (leave the disc open for another session),
// FixedPacket, LinkSizeValid, DataBlockType.
struct WriteParam {
  int32_t WriteType = 0;  // 0 incremental, 1 track-at-once, 2 session-at-once, 4 layer jump
  uint8_t TrackMode = 0;
  uint8_t LinkSize = 0;
  uint8_t TestWrite = 0;
  uint8_t BufE = 0;
  uint8_t MultiSession = 0;
  uint8_t FixedPacket = 0;
  uint8_t LinkSizeValid = 0;
  uint8_t DataBlockType = 0;
  int32_t Reserved = 0;
};
static_assert(sizeof(WriteParam) == 16, "WriteParam is passed as 16 bytes");

// Feature list of GET CONFIGURATION: whether a feature code occurs.
bool HasFeature(const uint8_t* config, size_t size, uint16_t feature);
// Current profile of a GET CONFIGURATION answer (0 when too short).
uint16_t CurrentProfile(const uint8_t* config, size_t size);

// CD-Text packs (READ TOC format 5 without its 4-byte header) into texts.
// Packs whose CRC is wrong are skipped. False when nothing usable was found.
bool ParseCdTextPacks(const uint8_t* packs, size_t size, FS_CDTEXT_INFO& out);
// CRC of a CD-Text pack over its first 16 bytes (stored inverted, big-endian).
uint16_t CdTextCrc(const uint8_t* pack16);

// Four CD-Text packs (72 bytes) as the 96 bytes of R-W sub-channel of one
// lead-in sector, the form a session-at-once write sends them in (cue sheet
// lead-in data form 0x41): each pack's 144 bits, high bit first, in 24
// six-bit symbols, one a byte with its two top bits clear.
void CdTextPacksToSubchannel(const uint8_t* packs72, uint8_t* out96);
void SubchannelToCdTextPacks(const uint8_t* in96, uint8_t* packs72);

// A media catalogue number is 13 digits; an ISRC 12 characters, five of
// letters and digits (country and owner) and seven digits (year and number).
bool IsValidMcn(const std::string& mcn);
bool IsValidIsrc(const std::string& isrc);

// CD-Text packs for a disc: texts[type][track], type 0 title, 1 performer,
// 2 songwriter, 3 composer, 5 message; track 0 is the disc itself. Block 0,
// character set ISO 8859-1, with the size information packs at the end.
// The lead-in of a later session speaks of its own tracks only: texts[.][1]
// is then track `firstTrack`, and so on.
std::vector<uint8_t> BuildCdTextPacks(const std::vector<std::vector<std::string>>& texts, int firstTrack = 1);
