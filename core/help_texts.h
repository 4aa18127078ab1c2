// The catalogue of help texts: the Help button of every dialog and the two texts of the Help menu,
// each in English and Russian.
//
// The texts are kept as readable UTF-8 in data/help/help_texts.txt and compiled in. A block there is a
// line "@@ name" with the English lines after it, then a line "@@ ru" with as many Russian lines; a
// block without "@@ ru" is English only. The catalogue gives its lines as they are, so the Russian
// lines reach the windows already in UTF-8 and need no conversion. The code-page conversions below
// serve Russian texts that arrive in the old code pages (DOS 866 or Windows 1251): such a line goes
// through Cp866ToCp1251 and then Cp1251ToUtf8 before it is shown.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orv {

enum class HelpId {
  kAsciiIndicators,
  kCommon,
  kGettingStarted,
  kMarkingDataSet,
  kSavingResults,
  kStandardPeakModels,
  kEnergyCalibration,
  kEfficiencyCalibration,
  kBlunders,
  kSpectrumFileTypes,
  kFittingParameters,
  kMarking,
  kDataNames,
  kEnergyList,
  kGraphScales,
  kPeakCriterion,
  kAutoCalibration,
  kCompression,
  kSmoothing,
  kBackground,
  kFormSizes,
  kTestSpectra,
  kPeakModelMarking,
};
inline constexpr int kHelpBlockCount = static_cast<int>(HelpId::kPeakModelMarking) + 1;
// The most lines a help window shows.
inline constexpr std::size_t kMaxHelpLines = 100;

// The name of a block in the data file, e.g. "common".
std::string_view HelpBlockName(HelpId id);

// A block in the layout LoadHelpText takes: `count` English lines followed by as many Russian ones;
// a negative count marks a block without Russian lines. Empty lines and count 0 for an unknown name.
struct HelpBlock {
  int count = 0;
  std::vector<std::string> lines;
};
HelpBlock ParseHelpBlock(std::string_view catalogue, std::string_view name);
// The block from the compiled-in catalogue.
HelpBlock CatalogueBlock(HelpId id);

// The lines a Help press shows: the Russian half when `russian` and the block has one, else English;
// at most kMaxHelpLines lines, and one blank line for an empty block.
std::vector<std::string> HelpText(const HelpBlock& block, bool russian);
std::vector<std::string> HelpText(HelpId id, bool russian);

// The 64 basic Cyrillic letters of code page 866 (0x80..0xAF, 0xE0..0xEF) become the same letters of
// code page 1251 (0xC0..0xFF); every other byte stays, the letter Yo included.
std::string Cp866ToCp1251(std::string_view text);
// Code page 1251 to UTF-8; the one unassigned byte (0x98) becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view text);

}  // namespace orv
