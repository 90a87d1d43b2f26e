// Projects: opening, saving, starting anew, files handed over from the
// desktop, and the questions about unsaved changes.

#include "app/ui/CPlomeDlg.h"

#include <QFileInfo>
#include <QTimer>

#include "BurnCtrl/Results.h"
#include "app/HandOver.h"
#include "app/ui/AddReport.h"
#include "app/ui/CDlgAudioCD.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CDlgVideoDisc.h"
#include "app/ui/CPlomeDlgIds.h"
#include "authoring/ProjectFile.h"
#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"
#include "foundation/ui/WindowSupport.h"

using namespace plome;

bool CPlomeDlg::OpenProjectFile(const QString& path) {
  int kind = ReadProjectKind(ToStd(path));
  int mode = -1;
  switch (kind) {
    case project::kAudioCD: mode = kAudioCD; break;
    case project::kDataDisc: mode = kDataDisc; break;
    case project::kMp3Disc: mode = kMp3Disc; break;
    case project::kVideoCD: mode = kVcd; break;
    case project::kSuperVideoCD: mode = kSvcd; break;
    case project::kDvdVideo: mode = kDvd; break;
    default:
      ShowMessage(LoadErrorText(result::kProjectUnreadable) + "\n" + ToStd(path), msgbox::kErrorOk);
      return false;
  }
  if (!ModeAvailable(mode)) {
    ShowMessage(LoadLangText("Message", 1008), msgbox::kInfoOk);
    return false;
  }
  // Asked before the window shows the mode: the question names the project.
  if (!AskToSaveProject(mode)) return false;
  SwitchMode(mode);
  HighlightModeButton(ModeButtonIndex(mode));
  const bool loaded = mode == kAudioCD               ? AudioWindow()->LoadProject(path)
                      : VideoWindow()                 ? VideoWindow()->LoadProject(path)
                                                      : DataWindow(mode)->LoadProject(path);
  UpdateTitle();
  return loaded;
}

void CPlomeDlg::OpenProject() {
  const QString projects = Tr("UIText", 100);
  QString filter = projects + "(*.bcd)|*.bcd||";
  if (mode_ == kDataDisc)
    filter = Tr("UIText", 101) + "(*.iso; *.img; *.nrg; *.vcd)|*.bcd; *.iso; *.img; *.nrg; *.vcd|" + projects +
             "(*.bcd)|*.bcd||";
  QString path = Files()->OpenFile(this, projects, filter);
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().toUpper() != "BCD") {
    CDlgDataCD* w = DataWindow(kDataDisc);
    // An opened image takes the data project's place.
    if (mode_ == kDataDisc && w && !AskToSaveProject(kDataDisc)) return;
    if (mode_ != kDataDisc || !w || !w->ImportImage(path)) ShowMessage(LoadLangText("Message", 5), msgbox::kErrorOk);
    UpdateTitle();
    return;
  }
  OpenProjectFile(path);
}

bool CPlomeDlg::SaveProject() { return SaveProjectOf(mode_, false); }

bool CPlomeDlg::SaveProjectAs() { return SaveProjectOf(mode_, true); }

// Saves the project of `mode` to its file; asks for the file when it has
// none, or always with `askForFile`, offering its own name or the mode's.
bool CPlomeDlg::SaveProjectOf(int mode, bool askForFile) {
  const QString projects = Tr("UIText", 100);
  auto save = [&](auto* window, QString path, const QString& defaultName) {
    if (askForFile || path.isEmpty())
      path = Files()->SaveFile(this, projects, projects + "(*.bcd)|*.bcd||",
                               path.isEmpty() ? defaultName : QFileInfo(path).fileName(), "bcd");
    if (path.isEmpty()) return false;
    // The project is written beside the old file and renamed over it, so a
    // failed save leaves the old file as it was.
    const bool saved = window->SaveProject(path);
    UpdateTitle();
    return saved;
  };
  if (CDlgVideoDisc* v = VideoWindowOf(mode))
    return save(v, v->ProjectPath(),
                mode == kVcd ? "VideoCD.bcd" : mode == kSvcd ? "SuperVideoCD.bcd" : "DVD-Video.bcd");
  if (CDlgAudioCD* a = AudioWindow(); a && mode == kAudioCD) return save(a, a->GetProjectPath(), "AudioCD.bcd");
  CDlgDataCD* w = DataWindow(mode);
  if (!w || w->IsImageMode()) return false;
  return save(w, w->GetProjectPath(), mode == kMp3Disc ? "Plome.bcd" : "DataCD.bcd");
}

void CPlomeDlg::NewProject() {
  if (!HasProjectWindow(mode_) || !AskToSaveProject(mode_)) return;
  if (CDlgVideoDisc* v = VideoWindow()) v->Clear();
  else if (mode_ == kAudioCD) AudioWindow()->Clear();
  else DataWindow(mode_)->Clear();
  UpdateTitle();
}

bool CPlomeDlg::AddFromShell(int command, const QString& path) {
  return AddFromShell(command, QStringList{path});
}

bool CPlomeDlg::AddFromShell(int command, const QStringList& paths) {
  if (command == int(handover::kCloseCommand)) {
    // The updater asks: the window closes as its own Close would, asking
    // about a running burn or unsaved projects first, and the answer says
    // whether it did; a user who chose to stay keeps the window.
    return close();
  }
  static const std::map<int, int> modes = {{101, kAudioCD}, {102, kDataDisc}, {103, kMp3Disc},
                                           {104, kVcd},     {105, kSvcd},     {106, kDvd}};
  auto it = modes.find(command);
  if (it == modes.end()) return false;
  if (!ModeAvailable(it->second)) {
    ShowMessage(LoadLangText("Message", 1008), msgbox::kInfoOk);
    return false;
  }
  if (!finished_ || eraseBusy_) return false;
  SwitchMode(it->second);
  HighlightModeButton(ModeButtonIndex(it->second));
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
  // What cannot be added is told once the hand-over is over, in one box:
  // the sender waits for no box.
  bool added = false;
  {
    HeldAddReports held;
    ++handOverDepth_;
    if (it->second == kAudioCD) added = AudioWindow()->AddPathsFromShell(paths);
    else if (CDlgVideoDisc* v = VideoWindow()) added = v->AddPaths(paths);
    else added = DataWindow(it->second)->AddPathsFromShell(paths);
    --handOverDepth_;
    for (std::string& text : held.Take()) handOverReport_.push_back(std::move(text));
  }
  if (!handOverReport_.empty()) handOverReportTimer_.start();
  return added;
}

void CPlomeDlg::ShowHandOverReport() {
  // Paths still arriving: the summary waits for the last of them.
  if (handOverDepth_ > 0 || handOverReport_.empty()) return;
  std::string text;
  for (const std::string& part : std::exchange(handOverReport_, {})) text += (text.empty() ? "" : "\n\n") + part;
  ShowMessage(text, msgbox::kErrorOk);
}

// Whether the project of `mode` holds changes that were not saved. Every
// mode with a project window is answered here, so that closing asks for
// each of them.
bool CPlomeDlg::HasUnsavedProject(int mode) const {
  if (!HasProjectWindow(mode)) return false;
  if (mode == kAudioCD) {
    const CDlgAudioCD* a = AudioWindow();
    return a && a->IsModified() && !a->IsEmpty();
  }
  if (const CDlgDataCD* w = DataWindow(mode)) return w->IsModified() && !w->IsImageMode() && !w->IsEmpty();
  if (const CDlgVideoDisc* v = VideoWindowOf(mode)) return v->IsModified() && !v->IsEmpty();
  return true;  // a project window of a kind not known here: better asked than lost
}

// Before the project of `mode` is replaced, or the window closes: a project
// with unsaved changes is offered for saving, by its name and its mode's,
// while the window goes on showing what it showed. False when the user
// chose to stay, or the project could not be saved (it stays as it is).
bool CPlomeDlg::AskToSaveProject(int mode) {
  if (!HasUnsavedProject(mode)) return true;
  const QString project = "\u201c" + ProjectName(mode) + "\u201d (" + Tr("Tip", kModes[mode].tip) + ")";
  const int answer = ShowMessage(ToStd(Tr("Message", 1026).arg(project)), msgbox::kQuestionYesNoCancel);
  if (answer == msgbox::kCancel) return false;
  return answer != msgbox::kYes || SaveProjectOf(mode, false);
}

bool CPlomeDlg::ConfirmUnsavedProjects() {
  for (int mode : kProjectModes)
    if (!AskToSaveProject(mode)) return false;
  return true;
}
