#include "core/help_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "spectrum/blunders.h"
#include "tests/support/fake_port.h"
#include "tests/support/workspace_test.h"
#include "ui/commands.h"
#include "ui/program.h"

namespace orv {
namespace {

bool HasCyrillic(const std::vector<std::string>& lines) {
  for (const std::string& line : lines)
    if (line.find("\xD0") != std::string::npos || line.find("\xD1") != std::string::npos) return true;
  return false;
}

TEST(HelpCatalogue, EveryBlockInBothLanguages) {
  for (int k = 0; k < kHelpBlockCount; ++k) {
    const HelpId id = static_cast<HelpId>(k);
    SCOPED_TRACE(std::string(HelpBlockName(id)));
    const std::vector<std::string> english = HelpText(id, false), russian = HelpText(id, true);
    EXPECT_EQ(CatalogueBlock(id).count, static_cast<int>(english.size()));
    EXPECT_EQ(english.size(), russian.size());
    EXPECT_TRUE(!HasCyrillic(english) && HasCyrillic(russian));
  }
  // Lines users know by heart stand as they always were.
  EXPECT_EQ(HelpText(HelpId::kAutoCalibration, false).front(),
            "For auto-calibration Ra or Eu peaks are taken as sample.");
  EXPECT_EQ(HelpText(HelpId::kPeakCriterion, false).front(),
            "Crit = criterion for the significance of the peak:");
}

TEST(HelpCatalogue, BlockParsing) {
  std::string longBlock = "@@ long\n", longRussian = "@@ ru\n";
  for (int i = 1; i <= 120; ++i) {
    longBlock += "e" + std::to_string(i) + "\n";
    longRussian += "r" + std::to_string(i) + "\n";
  }
  const std::string catalogue =
      "header lines are skipped\n@@ both\r\n  one\r\n\r\n@@ ru\r\n  odin\r\n\r\n"
      "@@ english-only\nalpha\nbeta\n" +
      longBlock + longRussian + "@@ last\nx\n@@ ru\ny";  // no final line break
  const HelpBlock both = ParseHelpBlock(catalogue, "both");
  EXPECT_EQ(both.count, 2);
  EXPECT_EQ(both.lines, (std::vector<std::string>{"  one", "", "  odin", ""}));  // blanks kept, CR dropped
  EXPECT_EQ(HelpText(both, true), (std::vector<std::string>{"  odin", ""}));
  // A block without Russian lines has a negative count and shows English even with Russian help on.
  const HelpBlock english = ParseHelpBlock(catalogue, "english-only");
  EXPECT_EQ(english.count, -2);
  EXPECT_EQ(HelpText(english, true), (std::vector<std::string>{"alpha", "beta"}));
  EXPECT_EQ(ParseHelpBlock(catalogue, "last").lines, (std::vector<std::string>{"x", "y"}));
  // An unknown block gives the default text of one blank line.
  const HelpBlock none = ParseHelpBlock(catalogue, "ru");
  EXPECT_EQ(none.count, 0);
  EXPECT_EQ(HelpText(none, false), (std::vector<std::string>{" "}));
  // A long block shows its first hundred lines.
  const HelpBlock block = ParseHelpBlock(catalogue, "long");
  EXPECT_EQ(block.count, 120);
  for (bool ru : {false, true}) {
    const std::vector<std::string> shown = HelpText(block, ru);
    ASSERT_EQ(shown.size(), kMaxHelpLines);
    EXPECT_EQ(shown.front() + shown.back(), ru ? "r1r100" : "e1e100");
  }
}

TEST(CodePages, Cp866ThroughCp1251ToUtf8) {
  // The 33 capitals and 33 small letters in alphabetical order, in code page 1251 and in UTF-8; Yo
  // (7th of each) stands apart in 1251 and does not exist in 866's letter ranges.
  const std::string utf8 = "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдеёжзийклмнопрстуфхцчшщъыьэюя";
  std::string cp866, cp1251, withYo;
  for (int b = 0x80; b <= 0xAF; ++b) cp866 += static_cast<char>(b);
  for (int b = 0xE0; b <= 0xEF; ++b) cp866 += static_cast<char>(b);
  for (int b = 0xC0; b <= 0xFF; ++b) {
    cp1251 += static_cast<char>(b);
    if (b == 0xC6 || b == 0xE6) withYo += b == 0xC6 ? '\xA8' : '\xB8';  // Yo before Zhe
    withYo += static_cast<char>(b);
  }
  EXPECT_EQ(Cp866ToCp1251(cp866), cp1251);
  EXPECT_EQ(Cp1251ToUtf8(withYo), utf8);
  std::string withoutYo = utf8;
  for (const char* yo : {"Ё", "ё"}) withoutYo.erase(withoutYo.find(yo), 2);
  EXPECT_EQ(Cp1251ToUtf8(Cp866ToCp1251(cp866)), withoutYo);
  // Everything else stays: ASCII, the pseudo-graphics between the letters and Yo (0xF0, 0xF1).
  std::string others = "Peak 12.5 keV *,/";
  for (int b = 0xB0; b <= 0xDF; ++b) others += static_cast<char>(b);
  for (int b = 0xF0; b <= 0xFF; ++b) others += static_cast<char>(b);
  EXPECT_EQ(Cp866ToCp1251(others), others);
  EXPECT_EQ(Cp1251ToUtf8(Cp866ToCp1251("\x8F\xA8\xAA = 3")), "Пик = 3");
  EXPECT_EQ(Cp1251ToUtf8("ASCII 1, 2\t* \xB9\x96\x80"), "ASCII 1, 2\t* №–Ђ");
  EXPECT_EQ(Cp1251ToUtf8("\x98"), "\xEF\xBF\xBD");
}

class HelpInDialogs : public testing::WorkspaceTest {
 protected:
  HelpInDialogs() : WorkspaceTest("orv_help_texts_") {}
  testing::FakePort port;
};

// A dialog's Help and the Help menu's long texts follow the language chosen.
TEST_F(HelpInDialogs, DialogsAndTheHelpMenuShowTheCatalogueInTheChosenLanguage) {
  Program program(*ws_, port);
  for (bool ru : {false, true}) {
    ws_->state.russianHelp = ru;
    port.shown.clear();
    port.texts.clear();
    BlunderCommand(ws_->spectrum, ws_->state, port, nullptr);
    ASSERT_EQ(port.shown.size(), 1u);
    EXPECT_EQ(port.shown[0].helpLines, HelpText(HelpId::kBlunders, ru));
    EXPECT_EQ(RunCommand(program, ru ? "Common Help" : "Get Started"), CommandStatus::kDone);
    EXPECT_EQ(port.texts, HelpText(ru ? HelpId::kCommon : HelpId::kGettingStarted, ru));
  }
}

}  // namespace
}  // namespace orv
