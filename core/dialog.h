// Building requests for the generic parameter dialog, reading its answers back, and the file-name
// selection. The geometry is in design pixels; the back-end applies the screen scale.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "core/port.h"
#include "core/state.h"

namespace orv {

// A fresh request: every control hidden, the window at (left, 20) with the given size.
DialogRequest PrepareDialog(const std::string& caption, int left, int width, int height,
                            bool withSave = false);

void ShowLabel(DialogRequest& r, int index, int left, int top, const std::string& text,
               Rgb textColor = kWhite, Rgb background = kMaroon);
void ShowEditField(DialogRequest& r, int left, int top, const std::string& text, int width);
// which = 1 is RadioGroup1, anything else RadioGroup2; columns 0 means 1.
void ShowRadioGroup(DialogRequest& r, int which, int columns, int left, int height, int width, int top,
                    const std::vector<std::string>& items, int defaultItem, const std::string& title = "");
void ShowCheckList(DialogRequest& r, int left, int top, int width, int height,
                   const std::vector<std::string>& items);
void ShowComboBox(DialogRequest& r, int left, int top, int width, const std::vector<std::string>& items,
                  int defaultItem);
void ShowListBox(DialogRequest& r, int left, int top, int width, int height,
                 const std::vector<std::string>& lines);
void ShowTextArea(DialogRequest& r, int left, int width, const std::vector<std::string>& lines = {});
// Rows of up to ten values; cells are formatted for a field of numberWidth characters.
void ShowParameterGrid(DialogRequest& r, int left, int top, int visibleRows, int numberWidth, int columns,
                       const std::vector<std::string>& rowNames,
                       const std::vector<std::array<double, 10>>& values,
                       const std::vector<int>& columnWidths);
void ShowCheckBox(DialogRequest& r, const std::string& caption, bool checked);

// The text of one grid cell: whole numbers without decimals, others in the compact form, and
// exponent form when that would not fit.
std::string FormatGridCell(int numberWidth, double value);
// The value of a grid cell after OK (row and column 0-based); a refused number clears `accepted`.
double ReadGridValue(const DialogRequest& r, int row, int column, int& accepted);

// File-name selection. Mode 0: choose an existing file with the file-open selection. Mode 1: type the
// name of a new output file (asks before overwriting). Mode 2: type a name only. Returns true and
// updates `name` when accepted.
bool SelectFile(UiPort& port, std::string& name, int mode, const std::string& prompt = "");

// An iteration limit as typed or read: rounded and kept within 1..kMaxIterationLimit, with a message
// when the value had to be cut.
int LimitIterations(double value, UiPort& port);

// The help block of a dialog: |count| lines, English first, then as many lines in the second language.
// A negative count marks a block without a second language.
std::vector<std::string> LoadHelpText(int count, const std::vector<std::string>& block, bool russian);

}  // namespace orv
