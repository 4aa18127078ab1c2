// A dialog that holds one of every kind of control the generic dialog offers, with preset values:
// what a script answer or a scripted port must be able to fill in.
#pragma once

#include "core/dialog.h"

namespace orv::testing {

inline DialogRequest EveryControlDialog() {
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

}  // namespace orv::testing
