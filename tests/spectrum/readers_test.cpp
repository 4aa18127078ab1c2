#include "spectrum/readers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

namespace orv {
namespace {

std::vector<unsigned char> Words16(int n, int first = 0) {
  std::vector<unsigned char> b;
  for (int i = 0; i < n; ++i) {
    int v = (first + i) & 0xFFFF;
    b.push_back(v & 0xFF);
    b.push_back(v >> 8);
  }
  return b;
}

// Reads `bytes` of `data` and returns the last channel (0 if refused).
int Read(TSpectrum& s, const std::vector<unsigned char>& data, std::size_t bytes, int word, InputOptions o) {
  return ReadBinarySpectrum(s, data.data(), bytes, word, o).ok ? s.a2 : 0;
}

// Reads text through `read` and returns the outcome.
template <typename Read>
ReadOutcome FromText(const std::string& text, Read read) {
  std::istringstream in(text);
  return read(in);
}

TEST(BinaryReader, WordsHeaderAndLimits) {
  InputOptions o, header;
  header.skipHeader = true;
  // 10,000 bytes without header: 5000 channels, channel 1 cleared.
  auto bytes = Words16(5000, 1);
  TSpectrum s;
  ASSERT_EQ(Read(s, bytes, bytes.size(), 2, o), 5000);
  EXPECT_EQ(std::tuple(s.a1, s.sp[1], s.err[1], s.sp[2], s.sp[5000]), std::tuple(1, 0.0, 1.0, 2.0, 5000.0));
  EXPECT_DOUBLE_EQ(s.err[5000], std::sqrt(5000.0));
  // With the header: bytes 1025 onward, 4488 channels; value 514 stood in the second word after it.
  ASSERT_EQ(Read(s, bytes, bytes.size(), 2, header), 4488);
  EXPECT_EQ(s.sp[2], 514.0);
  // Unsigned: 0xFFFF is 65535; a zero count has deviation 1.
  ASSERT_EQ(Read(s, {0, 0, 0xFF, 0xFF, 0, 0}, 6, 2, o), 3);
  EXPECT_EQ(std::tuple(s.sp[2], s.err[3]), std::tuple(65535.0, 1.0));

  // A file far larger than the arrays fills exactly 32,768 channels, the header counting towards it;
  // an empty file gives one empty channel, a trailing half word is dropped.
  bytes = Words16(40000, 0);
  EXPECT_EQ(Read(s, bytes, bytes.size(), 2, o), kSpectrumCapacity);
  EXPECT_EQ(Read(s, bytes, bytes.size(), 2, header), kSpectrumCapacity - 512);
  EXPECT_EQ(std::tuple(Read(s, bytes, 0, 2, o), Read(s, bytes, 7, 2, o), Read(s, bytes, 100, 2, header)),
            std::tuple(1, 3, 1));

  // Four-byte words are signed; reversed they swap their halves.
  const std::vector<unsigned char> b = {9, 9, 9, 9, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(Read(s, b, b.size(), 4, o), 3);
  EXPECT_EQ(std::tuple(s.sp[2], s.sp[3], s.err[3]), std::tuple(1.0, -1.0, 1.0));
  o.reverseBytes = true;
  ASSERT_EQ(Read(s, b, b.size(), 4, o), 3);
  EXPECT_EQ(s.sp[2], 65536.0);
  const std::vector<unsigned char> large(1024 + 4 * 40000, 1);
  EXPECT_EQ(Read(s, large, large.size(), 4, header), kSpectrumCapacity - 256);
}

TEST(FreeFieldReader, KnownFileAndBadInput) {
  TSpectrum s;
  auto read = [&](TSpectrum& into, const std::string& text) {
    return FromText(text, [&](std::istream& in) { return ReadFreeFieldSpectrum(into, in); });
  };
  auto r = read(s, "* comment\n1,2 3\n.5\n");
  ASSERT_TRUE(r.ok && r.messages.empty());
  EXPECT_EQ(std::vector<double>(s.sp.begin() + 1, s.sp.begin() + 6), (std::vector<double>{1, 2, 3, 0.5, 0}));
  EXPECT_DOUBLE_EQ(s.err[4], std::sqrt(0.5));
  EXPECT_EQ(s.a2, 4);

  // Starts at the current first channel; tabs and CR line ends are no reason for a warning.
  s.a1 = 10;
  r = read(s, "5\t6\r\n-4\r\n/\n99\n");
  ASSERT_TRUE(r.ok && r.messages.empty());
  EXPECT_EQ(std::tuple(s.a2, s.sp[12], s.err[12]), std::tuple(12, -4.0, 0.0));
  r = read(s, std::string("1 2 3\x01\x02\n", 9));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.messages.front(), "Warning, no ASCII spectrum");

  // A token that is no number refuses the file, naming it, the line and the token: dropping it would
  // move every later count one channel down.
  for (const std::string& bad :
       std::vector<std::string>{"NaN", "Inf", "1.2.3", "--5", "1e", "1e999", std::string(129, '7') + "x"}) {
    TSpectrum b;
    b.fileName = "s.txt";
    r = read(b, "* counts\n1 2\n3 " + bad + " 5\n");
    EXPECT_FALSE(r.ok) << bad;
    const std::string shown = bad.size() > 40 ? bad.substr(0, 40) + "..." : bad;
    EXPECT_EQ(r.messages, std::vector<std::string>{"Error, s.txt line 3: \"" + shown + "\" is not a number"});
  }

  TSpectrum e;
  e.a2 = 777;
  EXPECT_FALSE(read(e, "* only a comment\n\n").ok);
  EXPECT_EQ(e.a2, 777);
  std::ostringstream many;
  for (int i = 0; i < kSpectrumCapacity + 1; ++i) many << i << '\n';
  r = read(e, many.str());
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.messages.at(0).find("more than 32768"), std::string::npos);
  e.a1 = 40000;  // a first channel past the arrays
  EXPECT_FALSE(read(e, "1\n").ok);
}

TEST(XYReader, ChannelsErrorsAbscissaeAndRefusals) {
  InputOptions o;
  TSpectrum s;
  auto read = [&](const std::string& text) {
    return FromText(text, [&](std::istream& in) { return ReadXYSpectrum(s, in, o); });
  };
  ASSERT_TRUE(read("* energy counts error\n100 5\n101 7 -2\n102\n103 9\n").ok);
  EXPECT_EQ(std::tuple(s.a1, s.a2, s.err[2], s.x[4], s.sp[4]),
            std::tuple(1, 4, -2.0, 103.0, 9.0));  // sign kept
  EXPECT_DOUBLE_EQ(s.err[1], std::sqrt(6.0));
  EXPECT_EQ(std::tuple(s.xFirst, s.xLast, s.xStep, s.channelsPerX, s.channelOffset),
            std::tuple(100.0, 103.0, 1.0, 1.0, 4.0 - 103));

  auto r = read("17\n1 2\n");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.messages.at(0), "Warning, is it channel-counts spectrum?");
  EXPECT_EQ(s.a2, 2);  // the single-number line advanced the channel

  o.startAtOne = false;  // the first channel from the first X
  ASSERT_TRUE(read("100 5\n101 7\n").ok);
  EXPECT_EQ(std::tuple(s.a1, s.sp[101]), std::tuple(100, 7.0));
  for (const char* text : {"0 5\n", "-3 5\n", "40000 5\n", "1e300 5\n"}) {
    r = read(text);
    EXPECT_FALSE(r.ok) << text;
    EXPECT_NE(r.messages.back().find("first channel"), std::string::npos) << text;
  }
  r = read("32767 1\n32768 2\n32769 3\n");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.messages.back().find("more than 32768"), std::string::npos);

  o.startAtOne = true, s.a1 = 1;  // custom positions: the error stands before the counts
  o.lineIndicators = {1, 3, 2};
  ASSERT_TRUE(read("0.5, 2.0, 40\n").ok);
  EXPECT_EQ(std::tuple(s.sp[1], s.err[1], s.x[1]), std::tuple(40.0, 2.0, 0.5));
  o.lineIndicators = {0, 2, 3};
  EXPECT_FALSE(read("1 2\n").ok);
  o.lineIndicators = {1, 2, 3};
  EXPECT_FALSE(read("abc\n").ok);
}

TEST(SpectrumFile, OpenFailuresAndDispatch) {
  TSpectrum s;
  s.fileName = "/nonexistent/dir/x.spe";
  for (int type : {3, 4}) {
    s.fileType = type;
    auto r = ReadSpectrumFile(s, InputOptions{});
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_NE(r.messages[0].find("/nonexistent/dir/x.spe"), std::string::npos);
  }
  s.fileType = 1;
  EXPECT_EQ(ReadSpectrumFile(s, {}).messages,
            std::vector<std::string>{"/nonexistent/dir/x.spe: opening failure; \nfile may be Read_Only"});
  s.fileType = 2;
  EXPECT_EQ(
      ReadSpectrumFile(s, {}).messages,
      std::vector<std::string>{"/nonexistent/dir/x.spe\n: opening failure; IOres= 2\nfile may be Read_Only"});
  s.fileName = std::filesystem::temp_directory_path().string();  // a folder is no spectrum
  for (int type : {1, 3, 7}) {
    s.fileType = type;
    EXPECT_FALSE(ReadSpectrumFile(s, {}).ok) << type;
  }

  auto path = std::filesystem::temp_directory_path() / "orv_reader_test.dat";
  auto bytes = Words16(300, 10);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  s.fileName = path.string();
  s.fileType = 1;
  ASSERT_TRUE(ReadSpectrumFile(s, {}).ok);
  EXPECT_EQ(std::tuple(s.a2, s.sp[300]), std::tuple(300, 309.0));
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace orv
