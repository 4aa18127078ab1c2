// The spectrum name list: the series of spectrum files a fit loop or "Assign the Spectrum Name" works
// through; saving a spectrum's results removes its name.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "core/port.h"
#include "core/state.h"

namespace orv {

inline constexpr int kNameListCapacity = 1000;
inline constexpr int kDialogNameLimit = 200;  // names taken from one multiple selection
inline constexpr int kFileNameLimit = 100;    // names taken from one list file

struct SpectrumNameList {
  // 1-based: names[1..nameCount] are in use (the count lives in the analysis state).
  std::vector<std::string> names = std::vector<std::string>(kNameListCapacity + 1);
};

// Removes every entry equal to `name`, keeping the order of the others; nameCount becomes the number
// of entries kept.
void RemoveSpectrumName(SpectrumNameList& list, int& nameCount, const std::string& name);

// One name per line, blanks around it removed, empty lines skipped; at most 100 names, each name
// beyond the 100th replacing the 100th. Stores names[1..count] and returns the count.
int ReadNameListFile(std::istream& in, SpectrumNameList& list);

// The names file of the headless fit loop: one name per line, blanks around it removed; empty lines
// and lines beginning with "*" are skipped. A relative name is taken from `base` (kept as written when
// `base` is empty). False, with `error` set, when it holds more names than the list takes.
bool ReadLoopNameList(std::istream& in, const std::string& base, SpectrumNameList& list, int& count,
                      std::string& error);

// The menu command "Input the Spectrum Names": a new list from a multiple file selection (at most 200
// names) or from a list file (`nameListFile` is the preset; a relative name not found as typed is
// looked for in the start folder). Cancel or a missing file keeps the previous list.
void InputSpectrumNamesCommand(AnalysisState& state, SpectrumNameList& list, UiPort& port);

}  // namespace orv
