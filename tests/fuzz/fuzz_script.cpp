// Scripts of `orvant-batch run`, of arbitrary bytes, answering every kind of request the program makes:
// a dialog with every control, the questions and the file selections. The scripted port never
// crashes, never answers a control the dialog does not show, and once it has stopped it answers
// nothing more. No command is carried out, so no file is read or written.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "core/dialog.h"
#include "ui/script/script_port.h"

namespace {

orv::DialogRequest EveryControl() {
  using namespace orv;
  DialogRequest r = PrepareDialog("Fitting data", 0, 600, 420, true);
  ShowRadioGroup(r, 1, 1, 10, 100, 200, 10, {"a", "b", "c"}, 1);
  ShowRadioGroup(r, 2, 2, 10, 100, 200, 120, {"x", "y"}, 2);
  ShowCheckList(r, 300, 10, 200, 100, {" Skip the header ", " Reverse the bytes "});
  ShowComboBox(r, 300, 150, 100, {"Gauss", "Lorentz"}, 1);
  ShowListBox(r, 10, 200, 300, 100, {"line 1", "line 2"});
  ShowEditField(r, 10, 320, "old", 260);
  ShowTextArea(r, 5, 590, {"preset"});
  ShowParameterGrid(r, 10, 10, 5, 8, 2, {"Width", "Step"}, {{4.0, 0.5}, {0.99, 1e9}}, {80, 60, 60});
  ShowCheckBox(r, " Specify ", false);
  return r;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::ostringstream log;
  orv::ScriptPort port(std::string(reinterpret_cast<const char*>(data), size), log);
  port.AllowPresetDialog();
  orv::ScriptPort::Line line;
  int requests = 0;
  // Every line is taken as a command that makes one request of the kind its number picks.
  while (requests < 1000 && port.NextCommand(line)) {
    switch (requests++ % 4) {
      case 0: {
        orv::DialogRequest r = EveryControl();
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
