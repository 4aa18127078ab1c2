#include "core/help_texts.h"

#include <array>
#include <cstddef>

#include "core/dialog.h"

namespace orv::embedded {
extern const char help_texts[];
extern const std::size_t help_texts_size;
}  // namespace orv::embedded

namespace orv {
namespace {

constexpr std::array<std::string_view, kHelpBlockCount> kBlockNames = {
    "ascii-indicators",   "common",
    "getting-started",    "marking-data-set",
    "saving-results",     "standard-peak-models",
    "energy-calibration", "efficiency-calibration",
    "blunders",           "spectrum-file-types",
    "fitting-parameters", "marking",
    "data-names",         "energy-list",
    "graph-scales",       "peak-criterion",
    "auto-calibration",   "compression",
    "smoothing",          "background",
    "form-sizes",         "test-spectra",
    "peak-model-marking",
};

constexpr std::string_view kMarker = "@@ ";
constexpr std::string_view kRussianMarker = "@@ ru";

// Code page 1251, bytes 0x80..0xBF, as Unicode; the letters 0xC0..0xFF are U+0410..U+044F.
constexpr std::array<char32_t, 64> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string_view HelpBlockName(HelpId id) {
  return kBlockNames[static_cast<std::size_t>(id)];
}

HelpBlock ParseHelpBlock(std::string_view catalogue, std::string_view name) {
  std::vector<std::string> english, russian;
  bool inBlock = false, hasRussian = false;
  std::size_t pos = 0;
  while (pos < catalogue.size()) {
    std::size_t end = catalogue.find('\n', pos);
    if (end == std::string_view::npos) end = catalogue.size();
    std::string_view line = catalogue.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.starts_with(kMarker)) {
      if (line == kRussianMarker) {  // never a block of its own
        hasRussian = hasRussian || inBlock;
        continue;
      }
      if (inBlock) break;  // the next block begins
      inBlock = line.substr(kMarker.size()) == name;
      continue;
    }
    if (inBlock) (hasRussian ? russian : english).emplace_back(line);
  }
  HelpBlock block;
  block.count = static_cast<int>(english.size());
  if (!hasRussian) block.count = -block.count;
  block.lines = std::move(english);
  block.lines.insert(block.lines.end(), russian.begin(), russian.end());
  return block;
}

HelpBlock CatalogueBlock(HelpId id) {
  // Parsed once: every dialog asks for its block, and the catalogue never changes during a run.
  static const std::vector<HelpBlock> blocks = [] {
    std::vector<HelpBlock> all;
    const std::string_view catalogue(embedded::help_texts, embedded::help_texts_size);
    for (int k = 0; k < kHelpBlockCount; ++k)
      all.push_back(ParseHelpBlock(catalogue, HelpBlockName(static_cast<HelpId>(k))));
    return all;
  }();
  return blocks[static_cast<std::size_t>(id)];
}

std::vector<std::string> HelpText(const HelpBlock& block, bool russian) {
  std::vector<std::string> lines = LoadHelpText(block.count, block.lines, russian);
  if (lines.size() > kMaxHelpLines) lines.resize(kMaxHelpLines);
  return lines;
}

std::vector<std::string> HelpText(HelpId id, bool russian) {
  return HelpText(CatalogueBlock(id), russian);
}

std::string Cp866ToCp1251(std::string_view text) {
  std::string out(text);
  for (char& ch : out) {
    const auto b = static_cast<unsigned char>(ch);
    // 866: A..Ya and a..p at 0x80..0xAF, r..ya at 0xE0..0xEF; 1251: A..ya at 0xC0..0xFF in one run.
    if (b >= 0x80 && b <= 0xAF)
      ch = static_cast<char>(b + 0x40);
    else if (b >= 0xE0 && b <= 0xEF)
      ch = static_cast<char>(b + 0x10);
  }
  return out;
}

std::string Cp1251ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80)
      out += ch;
    else if (b < 0xC0)
      AppendUtf8(out, kCp1251High[b - 0x80]);
    else
      AppendUtf8(out, 0x0410 + (b - 0xC0));
  }
  return out;
}

}  // namespace orv
