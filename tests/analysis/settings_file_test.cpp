#include "analysis/settings_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <tuple>

namespace orv {
namespace {

AnalysisState Read(const std::string& text, AnalysisState st = {}) {
  std::istringstream in(text);
  ReadSettingsStream(st, in);
  return st;
}

// The written file holds every setting; the layout itself is pinned by WritesTheTenLineLayout.
std::string Written(const AnalysisState& st) {
  std::ostringstream out;
  WriteSettingsStream(st, out);
  return out.str();
}

AnalysisState Unusual() {
  AnalysisState st;
  st.settingsTitle = "Lab 3 settings", st.screenScale = 1.2345, st.fontSize = 13, st.russianHelp = true;
  st.colorBackground = MakeColor(1, 2, 3), st.colorTextBackground = 0, st.colorFitData = kMaxColor;
  st.colorExpData = MakeColor(255, 0, 0), st.colorForm = MakeColor(0, 0, 255), st.colorForm1Back = 12345;
  return st;
}

// The settings after the title, as written.
std::string Values(const AnalysisState& st) {
  const std::string all = Written(st);
  return all.substr(all.find('\n'));
}

TEST(SettingsFile, WritesTheTenLineLayout) {
  EXPECT_EQ(Written(Unusual()),
            "Lab 3 settings\n"
            "    1.2345 *scrsize\n"
            "        13 *fntsize\n"
            "         1 *RusHelp\n"
            "    197121 *Background color\n"
            "         0 *Text background color\n"
            "  16777215 *Fit.data color\n"
            "       255 *Exp.data color\n"
            "  16711680 *Form color\n"
            "     12345 *Color for Form1 back\n");
  EXPECT_NE(Written(AnalysisState{}).find("\n         0 *RusHelp\n"), std::string::npos);
}

TEST(SettingsFile, RoundTrips) {
  EXPECT_EQ(Written(Read(Written(Unusual()))), Written(Unusual()));
  AnalysisState plain;  // the defaults, with the flag off, over a state that has it on
  plain.screenScale = 1.25;
  EXPECT_EQ(Written(Read(Written(plain), Unusual())), Written(plain));
  // A title that looks like a comment would shift every later line; it is written so that it cannot.
  AnalysisState starred = Unusual();
  starred.settingsTitle = "*starred";
  const AnalysisState back = Read(Written(starred));
  EXPECT_EQ(back.settingsTitle, " *starred");
  EXPECT_EQ(Values(back), Values(starred));
}

TEST(SettingsFile, ClampsAndRounds) {
  AnalysisState on;
  on.russianHelp = true;
  // Scale clamped to [0.64, 1.56], font to [8, 14], halves to the even neighbour; only exactly 1 is on.
  for (auto [text, scale, font, russian] :
       {std::tuple{"t\n3.0 *scrsize\n20 *fntsize\n7 *RusHelp\n", 1.56, 14, true},
        {"t\n0.1 *scrsize\n3 *fntsize\n-2 *RusHelp\n", 0.64, 8, false},
        {"t\n1,5 *scrsize\n10.5 *fntsize\n0.5 *RusHelp\n", 1.5, 10, false},
        {"t\n1 *scrsize\n11.5 *fntsize\n1 *RusHelp\n", 1.0, 12, true}}) {
    const AnalysisState st = Read(text, on);
    EXPECT_DOUBLE_EQ(st.screenScale, scale) << text;
    EXPECT_EQ(std::tuple(st.fontSize, st.russianHelp), std::tuple(font, russian)) << text;
  }
  EXPECT_EQ(Read("t\n1 *scrsize\n9 *fntsize\n1 *RusHelp\n255.4 *Backg\n").colorBackground, 255);
}

TEST(SettingsFile, ShortGarbledAndHandWrittenFiles) {
  const AnalysisState start = Unusual();
  // A title alone, nothing at all, or values that are no numbers or out of range: the old values stay.
  for (auto [text, title] :
       {std::pair{"only a title\n", "only a title"},
        {"", "Lab 3 settings"},
        {"t\nabc *scrsize\nnan *fntsize\n *RusHelp\n1e999 *Background color\n-5 *Text background color\n"
         "16777216 *Fit.data color\n1 2 *Exp.data color\n0x10 *Form color\ninf *Color for Form1 back\n",
         "t"}}) {
    const AnalysisState st = Read(text, start);
    EXPECT_EQ(st.settingsTitle, title);
    EXPECT_EQ(Values(st), Values(start)) << text;
  }
  // Comment lines are skipped anywhere; a line without its key keeps the setting but is used up, so
  // the font size is not taken from the scale line and the colours stay in step.
  const AnalysisState st = Read(
      "* written by hand\r\ntitle\r\n* scale follows\r\n  1.5000\r\n       9 *fntsize\r\n"
      "       1 *RusHelp\r\n     100 *Background color\r\n     200 something else\r\n"
      "     300 *Fit.data color\r\n",
      start);
  EXPECT_EQ(std::tuple(st.settingsTitle, st.screenScale, st.fontSize, st.russianHelp, st.colorBackground,
                       st.colorTextBackground, st.colorFitData, st.colorExpData),
            std::tuple("title", start.screenScale, 9, true, 100, start.colorTextBackground, 300,
                       start.colorExpData));
}

TEST(SettingsFile, Files) {
  const auto dir = std::filesystem::temp_directory_path() / ("orv_settings_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string name = (dir / "orvant.fn").string();
  AnalysisState st = Unusual();
  EXPECT_FALSE(ReadSettingsFile(st, name));  // missing: silently skipped
  EXPECT_FALSE(ReadSettingsFile(st, dir.string()));
  EXPECT_EQ(Written(st), Written(Unusual()));
  ASSERT_TRUE(WriteSettingsFile(Unusual(), name));
  AnalysisState back;
  ASSERT_TRUE(ReadSettingsFile(back, name));
  EXPECT_EQ(Written(back), Written(Unusual()));
  EXPECT_FALSE(WriteSettingsFile(st, (dir / "no" / "orvant.fn").string()));
  EXPECT_FALSE(WriteSettingsFile(st, dir.string()));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace orv
