// Scripts of `orvant-batch run`, of arbitrary bytes, answering every kind of request the program makes:
// a dialog with every control, the questions and the file selections. The scripted port never
// crashes, never answers a control the dialog does not show, and once it has stopped it answers
// nothing more. No command is carried out, so no file is read or written.
#include <sstream>

#include "core/dialog.h"
#include "fuzz_common.h"
#include "tests/support/every_control_dialog.h"
#include "ui/script/script_port.h"

using orv::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::ostringstream log;
  orv::ScriptPort port(orv::Text(data, size), log);
  port.AllowPresetDialog();
  orv::ScriptPort::Line line;
  int requests = 0;
  // Every line is taken as a command that makes one request of the kind its number picks.
  while (requests < 1000 && port.NextCommand(line)) {
    switch (requests++ % 4) {
      case 0: {
        orv::DialogRequest r = orv::testing::EveryControlDialog();
        if (port.ShowDialog(r)) {
          Check(r.radio1 && r.radio1->chosen >= 1 && r.radio1->chosen <= 3);
          Check(r.radio2 && r.radio2->chosen >= 1 && r.radio2->chosen <= 2);
          Check(r.checkList && r.checkList->checked.size() == 2);
          Check(r.grid && r.grid->cells.size() == 2);
        }
        break;
      }
      case 1:
        port.AskYesNo("Reset the old calibration?");
        break;
      case 2:
        port.AskOkCancel("Previous fit results not saved");
        break;
      default:
        if (auto name = port.ChooseFileToOpen(orv::FileOpenRequest{})) Check(!name->empty());
        break;
    }
  }
  port.SetEndOfScript();
  if (port.failed()) Check(!port.AskYesNo("again?") && !port.error().empty());
  return 0;
}
