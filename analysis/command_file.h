// The command file ("ini-file"): a hand-editable text file of commands, comments and data lines that
// carries the settings of an analysis from one run to the next and can load a spectrum.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "analysis/workspace.h"
#include "core/port.h"

namespace orv {

// Items of one calibration table that a command file can carry: the reader takes at most this many,
// so the writer writes no more.
inline constexpr int kCommandFileCalibrationItems = 30;

struct CommandFileOptions {
  // When set, IS reads only the files it approves; any other counts as missing (tools that must not
  // open arbitrary files, such as the fuzzer).
  std::function<bool(const std::string&)> mayLoad;
  // The file's name as messages give it.
  std::string sourceName;
};

// The command word of a line: its capitals A..Z in order, at most 11 of them.
std::string CommandWord(const std::string& line);

// Executes the commands of `in` until STOP or its end. Numbers are read in free field over any number
// of lines into a buffer that starts at zeros for each reading; numbers a command does not find keep
// the buffer's values. A left-over data line is read as a command line. Bounds given by IS and SAB are kept
// inside the spectrum arrays; real numbers beyond +-1e30 are taken as +-1e30.
void ReadCommandStream(Workspace& ws, UiPort& port, std::istream& in);
void ReadCommandStream(Workspace& ws, UiPort& port, std::istream& in, const CommandFileOptions& options);

// Executes the named command file; "No file " + name when there is no such file.
void ReadCommandFile(Workspace& ws, UiPort& port, const std::string& fileName);

// Writes the settings as "a.ini" in the start directory, replacing any existing file. Returns false
// after "Cannot write " + path when the file cannot be written.
bool WriteCommandFile(const Workspace& ws, UiPort& port);

// The menu commands "Enter the Ini File" and "Save the Init File".
void EnterIniFileCommand(Workspace& ws, UiPort& port);
void SaveInitFileCommand(Workspace& ws, UiPort& port);

}  // namespace orv
