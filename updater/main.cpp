// update: fetches the files of the update list that differ from the installed
// ones, closes the running main program, puts the new files in place and
// starts the main program again. It takes no arguments; it finds everything
// in its own folder.

#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/CUpdate.h"
#include "app/UpdateJob.h"
#include "app/UpdateNetwork.h"
#include "foundation/HelpAndVersion.h"
#include "foundation/LangText.h"
#include "foundation/ProgramDir.h"
#include "foundation/ShowMessage.h"
#include "app/ui/QtMessageSink.h"
#include "updater/CDlgUpdate.h"

namespace {

const char kHelp[] =
    "usage: update\n"
    "\n"
    "Brings a portable copy of Varnex up to date from its update server. The\n"
    "main program starts it after the user agreed to update; it fetches the\n"
    "files of update.ini that differ from the installed ones into\n"
    "update.pending/, asks the running main program to close, puts every\n"
    "file in place whole and starts the main program again. A file is taken\n"
    "only when its size (and SHA-256, when the list gives one) matches the\n"
    "list; over plain http:// every file needs a SHA-256 in the list. Cancel\n"
    "or a failed transfer leaves the installed files as they were. The update\n"
    "goes in whole or not at all: when one of its files cannot be put in\n"
    "place, none is, the reason is shown and the main program is not started.\n"
    "\n"
    "The server is the UpdateServer key of [Varnex] in /etc/varnex/varnex.conf\n"
    "(VARNEX_SYSTEM_CONF names another file). An installed copy whose program\n"
    "folder it may not write is left to the package manager.\n"
    "\n"
    "Options:\n"
    "  --help\n"
    "      Shows this text.\n"
    "  --version\n"
    "      Shows the version.\n"
    "\n"
    "Exit status is 0 when the update was installed or nothing was to do,\n"
    "1 otherwise.\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("update %s\n", VersionFromFileVersion(CompiledFileVersion()).c_str());
      return 0;
    }
    std::fprintf(stderr, "update: unknown argument %s (see update --help)\n", argv[i]);
    return 2;
  }
  // Decided before any window: an installed copy never opens one.
  const std::string dir = GetProgramDir();
  const std::string server = UpdateServerAddress();
  if (!CUpdate::Enabled(server, dir, GetWritableDir())) {
    std::fprintf(stderr, "update: no update server is set, or this copy is updated by its package manager\n");
    return 1;
  }
  QApplication app(argc, argv);
  // Boxes asked for by the worker are shown on the window's thread.
  SetMessageSink(std::make_shared<QtMessageSink>());
  auto net = MakeCurlNetwork(UpdateServerCaFile());
  HandOverMainProgram main;
  UpdateJob job(*net, main, ShowMessage, server, dir);
  CDlgUpdate dialog(job);
  dialog.show();
  dialog.Begin();
  dialog.exec();
  const auto outcome = dialog.Outcome();
  return outcome == UpdateJob::Outcome::Installed || outcome == UpdateJob::Outcome::NothingToDo ? 0 : 1;
}
