// Spectrum files as the analysers' own software writes them: IAEA SPE, ORTEC CHN, ANSI N42.42 (2006
// and 2012), Amptek MCA and CSV/TSV with a header row; the detection of a file's format by its content;
// and the writing of a spectrum as SPE or N42 for other tools.
//
// Every reader parses the whole file before it touches the spectrum object, so a refused file leaves
// the object as it was. Channel 1 is the file's first stored channel; times and the energy calibration
// (converted to that numbering) go to s.measurement.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "spectrum/readers.h"
#include "spectrum/spectrum.h"

namespace orv {

inline constexpr int kIaeaSpeType = 5;
inline constexpr int kOrtecChnType = 6;
inline constexpr int kN42Type = 7;
inline constexpr int kAmptekMcaType = 8;
inline constexpr int kCsvType = 9;
inline constexpr int kLastFileType = 9;

// True for the types read by the readers of this folder.
inline bool IsFormatType(int type) {
  return type >= kIaeaSpeType && type <= kLastFileType;
}

// Short names of the types 1..9 as `--type` takes them ("" for the types that have none).
const std::string& FileTypeName(int type);
// The type of a short name or of a number "1".."9"; 0 when it is neither.
int FileTypeFromName(const std::string& name);

// The readers proper, on the file's bytes. Messages name s.fileName.
ReadOutcome ReadIaeaSpe(TSpectrum& s, std::string_view text);
ReadOutcome ReadOrtecChn(TSpectrum& s, std::string_view bytes);
ReadOutcome ReadN42(TSpectrum& s, std::string_view text);
ReadOutcome ReadAmptekMca(TSpectrum& s, std::string_view text);
ReadOutcome ReadHeadedCsv(TSpectrum& s, std::string_view text);

// Reads s.fileName with the reader of s.fileType (5..9).
ReadOutcome ReadFormatFile(TSpectrum& s);

// The format of a file judged by its content: 5..9, 4 when every data line holds two or three numbers
// whose first rises by a constant step, 3 for other text of numbers only, 0 when nothing fits (binary
// files of types 1 and 2 are never guessed). `message` says what was tried when nothing fitted.
struct FormatGuess {
  int type = 0;
  std::string message;
};
FormatGuess DetectSpectrumFormat(const std::string& path);
// The same on the first bytes of a file of `fileSize` bytes.
int DetectFormatOfContent(std::string_view head, std::size_t fileSize);

// Writes channels a1..a2 of the spectrum with its times and an energy calibration E(c) given by
// `coefficients` (our channel numbering; empty for none). False with the reason in `error`.
bool WriteIaeaSpe(const TSpectrum& s, const std::vector<double>& coefficients, const std::string& path,
                  std::string* error = nullptr);
bool WriteN42(const TSpectrum& s, const std::vector<double>& coefficients, const std::string& path,
              std::string* error = nullptr);

}  // namespace orv
