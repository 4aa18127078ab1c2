#include "spectrum/spectrum_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <tuple>

#include "spectrum/readers.h"

namespace orv {
namespace {

TEST(SpectrumWriter, RoundTripThroughTheReaders) {
  const auto dir = std::filesystem::temp_directory_path() / ("orv_writer_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  TSpectrum s;
  s.fileName = "cleaned", s.a1 = 5, s.a2 = 300;
  for (int ch = 5; ch <= 300; ++ch) {
    s.sp[ch] = ch == 17 ? 0.0 : 1000.0 / 3.0 + ch * 0.1 + (ch == 100 ? 1.23456789e9 : 0.0);
    s.err[ch] = std::sqrt(s.sp[ch] + 1.0) * 1.01;
  }
  for (int type : {3, 4}) {
    const std::string path = (dir / ("s" + std::to_string(type) + ".txt")).string();
    ASSERT_TRUE(WriteSpectrumFile(s, path, type)) << type;
    TSpectrum r;
    r.fileName = path, r.fileType = type;
    InputOptions o;
    o.startAtOne = false;  // type 4: the first X is the first channel
    ASSERT_TRUE(ReadSpectrumFile(r, o).ok) << type;
    EXPECT_EQ(std::tuple(r.a2, type == 3 ? r.sp[4] : r.a1), std::tuple(300, type == 3 ? 0.0 : 5.0));
    for (int ch = 5; ch <= 300; ++ch)
      ASSERT_TRUE(r.sp[ch] == s.sp[ch] && (type == 3 || r.err[ch] == s.err[ch]))
          << "type " << type << " channel " << ch;
  }
  std::string error;
  EXPECT_FALSE(WriteSpectrumFile(s, (dir / "x.bin").string(), 1, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(WriteSpectrumFile(s, (dir / "no" / "such" / "x.txt").string(), 3, &error));
  EXPECT_EQ(error.rfind("Cannot write", 0), 0u);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace orv
