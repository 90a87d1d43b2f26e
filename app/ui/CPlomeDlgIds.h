#pragma once
// What the main window's source files share and nobody else needs: the
// control ids, the skin's measures, and what each mode shows.

#include <QString>
#include <map>
#include <string>

#include "app/ui/CPlomeDlg.h"
#include "foundation/LangText.h"

namespace plome {

// Control ids.
constexpr int kIdAudio = 1023, kIdMp3 = 1017, kIdData = 1024, kIdVcd = 1020, kIdSvcd = 1021, kIdDvd = 1022,
              kIdCopy = 1018, kIdAnalysis = 1031;
constexpr int kIdRefresh = 1048, kIdSave = 1049, kIdOpen = 1051, kIdSaveProject = 1052, kIdNew = 1058,
              kIdAdd = 1053, kIdBurn = 1054, kIdAnalyCD = 1055, kIdAnalySector = 1056, kIdAnalyDev = 1057,
              kIdErase = 1028, kIdEject = 1040, kIdLoad = 1041, kIdHelp = 1042, kIdSchedule = 1144,
              kIdMinimise = 1019, kIdClose = 1062, kIdAnalyCheck = 1063;

constexpr int kWidth = 900, kHeight = 620;  // the skin's size, and the smallest the window gets
constexpr int kHeaderHeight = 48;   // the band that moves the window and maximises it on a double click
constexpr int kWorkTop = 176;       // where the mode's own window starts
constexpr int kStatusHeight = 32;   // the status bar at the bottom
constexpr int kToolbarX = 14, kToolbarY = 134;  // the hidden placeholder 1050

// Toolbar groups.
enum Group { kGroupProject = 0, kGroupAnalysis = 1, kGroupCopy = 2 };

struct ModeInfo {
  int button;   // mode button id
  int tip;      // "Tip" key of the title
  int group;
  bool imageEntry;  // the recorder list ends in the image entry
  bool allDrives;
};
constexpr ModeInfo kModes[CPlomeDlg::kModeCount] = {
    {kIdAudio, 1, kGroupProject, false, false},     {kIdMp3, 3, kGroupProject, false, false},
    {kIdData, 2, kGroupProject, true, false},       {kIdVcd, 22, kGroupProject, false, false},
    {kIdSvcd, 23, kGroupProject, false, false},     {kIdDvd, 24, kGroupProject, false, false},
    {kIdAnalysis, 4, kGroupAnalysis, true, true},   {kIdAnalysis, 10, kGroupAnalysis, true, true},
    {kIdAnalysis, 11, kGroupAnalysis, true, true},  {kIdCopy, 20, kGroupCopy, false, false},
    {kIdAnalysis, 26, kGroupAnalysis, true, true}};

// Mode buttons in their radio-group order (HighlightModeButton index).
constexpr int kModeButtons[8] = {kIdAudio, kIdData, kIdMp3, kIdVcd, kIdSvcd, kIdDvd, kIdCopy, kIdAnalysis};

// The modes that hold a project, in the order the schedule's disc types and
// the closing questions take them.
constexpr int kProjectModes[6] = {CPlomeDlg::kAudioCD, CPlomeDlg::kDataDisc, CPlomeDlg::kMp3Disc,
                                  CPlomeDlg::kVcd,     CPlomeDlg::kSvcd,     CPlomeDlg::kDvd};

// The radio-group index of a mode's button.
constexpr int ModeButtonIndex(int mode) {
  for (int i = 0; i < 8; ++i)
    if (kModeButtons[i] == kModes[mode].button) return i;
  return -1;
}
static_assert(ModeButtonIndex(CPlomeDlg::kAudioCD) == 0 && ModeButtonIndex(CPlomeDlg::kDataDisc) == 1 &&
              ModeButtonIndex(CPlomeDlg::kMp3Disc) == 2 && ModeButtonIndex(CPlomeDlg::kDvd) == 5 &&
              ModeButtonIndex(CPlomeDlg::kDiscCopy) == 6 && ModeButtonIndex(CPlomeDlg::kDeviceInfo) == 7);

inline const std::map<int, int> kTips = {
    {1023, 1},  {1024, 2},  {1017, 3},  {1031, 4},  {1048, 5},  {1049, 6},  {1053, 7},  {1054, 8},
    {1055, 9},  {1056, 10}, {1057, 11}, {1028, 12}, {1040, 13}, {1041, 14}, {1042, 15}, {1051, 17},
    {1052, 18}, {1058, 19}, {1018, 20}, {1020, 22}, {1021, 23}, {1022, 24}, {1144, 25}, {1063, 26}};

inline std::string ToStd(const QString& s) { return s.toStdString(); }

inline std::string SettingsFile() { return SettingsFilePath(); }

}  // namespace plome
