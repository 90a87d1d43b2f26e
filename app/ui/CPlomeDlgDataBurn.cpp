// Burning a data or MP3 project: the checks of the disc, the room and the
// names before the burn settings.

#include "app/ui/CPlomeDlg.h"

#include <QComboBox>

#include "BurnCtrl/Results.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CPlomeDlgIds.h"
#include "authoring/CDataFile.h"
#include "authoring/CECMA167.h"
#include "authoring/DiscNames.h"
#include "authoring/SourceCheck.h"
#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"
#include "foundation/SizeText.h"
#include "foundation/ui/WindowSupport.h"

using namespace plome;

void CPlomeDlg::Burn() {
  if (!finished_ || eraseBusy_) return;
  // Before the recorders are read, no entry of the list is a recorder.
  if (RefusedWhileLoading()) return;
  if (mode_ == kDiscCopy) return BurnCopy();
  if (mode_ == kAudioCD && AudioWindow()) return BurnAudio();
  if (VideoWindow()) return BurnVideo();
  if (IsAnalysisMode(mode_)) return;
  CDlgDataCD* w = DataWindow(mode_);
  if (!w) {
    ShowMessage(LoadLangText("Message", 1008), msgbox::kInfoOk);
    return;
  }
  const bool imageEntry = ImageEntrySelected();
  if (mode_ == kDataDisc && imageEntry && w->IsImageMode()) {
    ShowMessage(LoadLangText("Message", 60), msgbox::kInfoOk);
    return;
  }
  if (recorderList_->count() == 0 && mode_ == kMp3Disc) {
    ShowMessage(LoadLangText("Message", 2), msgbox::kInfoOk);
    return;
  }
  if (recorderList_->count() == 0 || (!imageEntry && SelectedDrive() < 0)) {
    ShowMessage(LoadLangText("Message", 16), msgbox::kInfoOk);
    return;
  }
  const int drive = imageEntry ? 0 : SelectedDrive();
  DiscInfo disc;
  if (!imageEntry ? !CheckDiscForBurn(w, drive, &disc) : !AskImageFile(w)) return;
  if (w->IsEmpty()) {
    ShowMessage(LoadErrorText(result::kEmptyProject), msgbox::kInfoOk);
    return;
  }
  burnMedium_ = imageEntry ? medium::kCdR : disc.mediumType;
  if (!w->IsImageMode()) {
    if (!imageEntry && !CheckRoom(w, drive, &disc)) return;
    if (!CheckSources(w)) return;
  }
  copies_ = 1;
  recorderCount_ = 1;
  recorderListText_.clear();
  if (imageEntry) {
    afterAction_ = 0;
    closeDisc_ = true;
  } else if (!RunBurnSettings(drive, mode_ == kDataDisc)) {
    return;
  }
  // The names are checked for the discs actually written: CD media and image
  // files take ISO 9660 with Joliet names, DVD and BD media take UDF, and
  // the ticked recorders may hold both.
  if (!w->IsImageMode()) {
    const NameFormats formats = imageEntry ? NameFormats{true, false} : FormatsOfBurnDrives(drive);
    if (formats.joliet && !CheckNames(w, false)) return;
    if (formats.udf && !CheckNames(w, true)) return;
  }
  StartBurn();
}

CPlomeDlg::NameFormats CPlomeDlg::FormatsOfBurnDrives(int mainDrive) {
  QStringList drives = recorderListText_.split(',', Qt::SkipEmptyParts);
  if (drives.isEmpty()) drives << QString::number(mainDrive);
  NameFormats formats;
  RunOffWindowThread([&] {
    for (const QString& d : drives) {
      DiscInfo info;
      // A recorder whose disc cannot be read yet gets the burn's own check;
      // its names are those of the main recorder's medium.
      const int type = service_->GetDiscInfoEx(uint8_t(d.toInt()), &info) == result::kSuccess ? info.mediumType
                                                                                              : burnMedium_;
      (medium::IsCd(type) ? formats.joliet : formats.udf) = true;
    }
    return 0;
  });
  return formats;
}

// The disc in the drive takes this project: ready, and writable (data) or
// blank (MP3). A full or closed rewritable disc is offered for erasing by
// CheckRoom; any other unsuitable disc is ejected with a message.
bool CPlomeDlg::CheckDiscForBurn(CDlgDataCD* w, int drive, DiscInfo* disc) {
  enum Verdict { kGood, kNotReady, kNotWritable, kNotBlank, kErasable };
  const bool dataMode = mode_ == kDataDisc;
  Verdict v = RunOffWindowThread([&] {
    if (service_->TestUnitReady(uint8_t(drive)) != 0) return kNotReady;
    if (service_->GetDiscInfoEx(uint8_t(drive), disc) != result::kSuccess) return kNotReady;
    Verdict verdict = kGood;
    if (dataMode && (!disc->writable || disc->freeBytes == 0)) verdict = kNotWritable;
    if (!dataMode && !disc->blank) verdict = kNotBlank;
    // A full or closed rewritable disc is offered for erasing (CheckRoom).
    if (verdict == kNotWritable && medium::IsErasable(disc->mediumType) && !w->IsImageMode()) return kErasable;
    if (verdict != kGood) service_->Eject(uint8_t(drive), true);
    return verdict;
  });
  if (v == kNotReady) {
    ShowMessage(LoadLangText("Message", 1), msgbox::kInfoOk);
    return false;
  }
  if (v == kNotWritable || v == kNotBlank) {
    // The disc's state says why; an MP3 disc explains why it wants a blank one.
    std::string why = DiscRefusal(*disc);
    if (why.empty() && v == kNotBlank && mode_ == kMp3Disc) why = LoadLangText("Message", 1029);
    ShowMessage(!why.empty() ? why : LoadLangText("Message", v == kNotWritable ? 17 : 62), msgbox::kInfoOk);
    ShowDiscStatus();
    return false;
  }
  return true;
}

// The image file entry: the user names the file the image goes to.
bool CPlomeDlg::AskImageFile(CDlgDataCD* w) {
  // An empty project is refused before a file is named: nothing is done to it.
  if (w->IsEmpty()) {
    ShowMessage(LoadErrorText(result::kEmptyProject), msgbox::kInfoOk);
    return false;
  }
  QString path = Files()->SaveFile(this, Tr("UIText", 91), "ISO files(*.iso)|*.iso||", "DataCD.iso", "iso");
  if (path.isEmpty()) return false;
  // An existing file is replaced only once the new image is complete (the
  // image target writes beside it and renames), so a failed or stopped
  // burn leaves it as it was.
  if (RunOffWindowThread([&] { return service_->SetImageFile(0, ToStd(path)); }) != result::kSuccess) {
    ShowMessage(LoadLangText("Message", 5) + "\n" + ToStd(path), msgbox::kErrorOk);
    return false;
  }
  burnImagePath_ = path;
  return true;
}

bool CPlomeDlg::CheckRoom(CDlgDataCD* w, int drive, DiscInfo* disc) {
  // The file data alone: the layout adds a little, so a project refused here
  // certainly does not fit; the engine checks the exact size once more.
  const uint64_t need = w->ProjectBytes();
  const bool full = !disc->writable || need > disc->freeBytes;
  if (!full) return true;
  const QString needText = QString::fromStdString(FormatSize(need));
  const bool room = disc->freeBytes + disc->usedBytes >= need || !disc->writable;
  if (medium::IsErasable(disc->mediumType) && mode_ == kDataDisc && room && !disc->blank) {
    // An unfinished disc is not short of room: it takes nothing until erased.
    const QString text =
        disc->state == medium::DiscState::kUnfinished
            ? Tr("Message", 1027)
            : Tr("Message", 1017).arg(QString::fromStdString(FormatSize(disc->usedBytes)), needText,
                                      QString::fromStdString(FormatSize(disc->freeBytes)));
    if (ShowMessage(ToStd(text), msgbox::kQuestionYesNo) != msgbox::kYes) {
      if (!disc->writable) {
        // Nothing goes onto this disc as it is: the user may change it.
        RunOffWindowThread([&] { return service_->Eject(uint8_t(drive), true); });
        ShowDiscStatus();
      }
      return false;
    }
    const int erased = EraseDisc(drive);
    if (erased != result::kSuccess) {
      ShowMessage(ErrorWithDetail(erased, drive), msgbox::kErrorOk);
      return false;
    }
    int rc = RunOffWindowThread([&] { return service_->GetDiscInfoEx(uint8_t(drive), disc); });
    ShowDiscStatus();
    if (rc == result::kSuccess && disc->writable && need <= disc->freeBytes) return true;
  }
  const QString text = Tr("Message", 1016).arg(needText, QString::fromStdString(FormatSize(disc->freeBytes)));
  ShowMessage(ToStd(text), msgbox::kErrorOk);
  return false;
}

bool CPlomeDlg::CheckSources(CDlgDataCD* w) {
  // Every source, as the command line checks them: a burn that meets a file
  // gone, turned into a folder or a pipe, or unreadable would spend a
  // write-once disc without it.
  const std::string root = w->GetStagingRoot();
  const std::vector<SourceProblem> problems = RunOffWindowThread([&] { return CheckStagedSources(root); });
  if (problems.empty()) return true;
  QStringList lines;
  for (const SourceProblem& p : problems) lines << QString::fromStdString(p.path + ": " + p.reason);
  QString text = lines.mid(0, 12).join("\n");
  if (lines.size() > 12) text += "\n" + Tr("Message", 1023).arg(lines.size() - 12);
  ShowMessage(ToStd(QString::fromStdString(LoadErrorText(result::kSourceNotUsable)) + "\n\n" + text),
              msgbox::kErrorOk);
  return false;
}

bool CPlomeDlg::CheckNames(CDlgDataCD* w, bool udf) {
  std::vector<LayoutNotice> notices;
  const std::string root = w->GetStagingRoot();
  const bool fits = RunOffWindowThread([&] { return CDataFile::ReviewProject(root, &notices, udf); });
  constexpr size_t kShown = 12;
  QStringList shortened, refused, split;
  for (const LayoutNotice& n : notices) {
    const QString path = QString::fromStdString(n.discPath);
    switch (n.kind) {
      case LayoutNotice::kJolietShortened:
      case LayoutNotice::kUdfNameChanged:
        shortened << path + "  \u2192  " + QString::fromStdString(n.detail);
        break;
      case LayoutNotice::kNameRefused:
        refused << path + ": " + Tr("Message", 908);
        break;
      case LayoutNotice::kTooLarge:
        refused << QString::fromStdString(n.detail) + ": " + Tr("Message", 906);
        break;
      case LayoutNotice::kSplitInExtents:
        split << path;
        break;
    }
  }
  auto listed = [&](const QStringList& lines) {
    QString text = lines.mid(0, int(kShown)).join("\n");
    if (size_t(lines.size()) > kShown) text += "\n" + Tr("Message", 1023).arg(lines.size() - int(kShown));
    return text;
  };
  if (!fits || !refused.isEmpty()) {
    ShowMessage(ToStd(QString::fromStdString(LoadErrorText(result::kNameNotConvertible)) + "\n\n" + listed(refused)),
                msgbox::kErrorOk);
    return false;
  }
  // Files of 4 GiB and more go on the disc in several extents: told before
  // the burn, since some systems' readers show them cut short.
  if (!split.isEmpty() &&
      ShowMessage(ToStd(Tr("Message", 1030) + "\n\n" + listed(split)), msgbox::kQuestionOkCancel) != msgbox::kOk)
    return false;
  if (shortened.isEmpty()) return true;
  const QString text = Tr("Message", 1018).arg(udf ? int(CECMA167::kMaxNameBytes / 2) : int(discnames::kJolietMaxChars)) + "\n\n" + listed(shortened) +
                       "\n\n" + Tr("Message", 1019);
  return ShowMessage(ToStd(text), msgbox::kQuestionYesNo) == msgbox::kYes;
}
