#include "core/numtext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

namespace orv {
namespace {

TEST(ReadNumber, TypedTextKnownAnswers) {
  int ok = 7;
  EXPECT_DOUBLE_EQ(ReadNumber("1,5", ok), 1.5);
  EXPECT_EQ(ok, 1);
  EXPECT_DOUBLE_EQ(ReadNumber(".5", ok), 0.5);
  EXPECT_DOUBLE_EQ(ReadNumber("2d3", ok), 2000.0);
  EXPECT_DOUBLE_EQ(ReadNumber("-1.25E-2", ok), -0.0125);
  EXPECT_DOUBLE_EQ(ReadNumber(" 1 2 ", ok), 12.0);  // blanks are removed before parsing
  EXPECT_DOUBLE_EQ(ReadNumber("+3.", ok), 3.0);
  EXPECT_DOUBLE_EQ(ReadNumber("-.5", ok), -0.5);
  EXPECT_DOUBLE_EQ(ReadNumber("1e-400", ok), 0.0);  // underflow is zero
  EXPECT_EQ(ok, 1);

  // Empty text is 0 and leaves the acceptance as it was.
  ok = 0;
  EXPECT_DOUBLE_EQ(ReadNumber("", ok), 0.0);
  EXPECT_DOUBLE_EQ(ReadNumber(" ", ok), 0.0);
  EXPECT_EQ(ok, 0);

  for (const char* bad : {"abc", "1.2.3", "e5", "1e", "--1", "+", "1e5x", "nan", "inf", "1e999", "0x10"}) {
    ok = 1;
    EXPECT_DOUBLE_EQ(ReadNumber(bad, ok), 1.001) << bad;
    EXPECT_EQ(ok, 0) << bad;
  }
}

TEST(ReadNumber, ClampedAndIntegerForms) {
  int ok = 1;
  EXPECT_DOUBLE_EQ(ReadNumberClamped("0.1", 0.25, 100, ok), 0.25);
  EXPECT_DOUBLE_EQ(ReadNumberClamped("3.0", 0.64, 1.56, ok), 1.56);
  EXPECT_EQ(ReadInteger("2.5", ok), 2);  // halves go to the even neighbour
  EXPECT_EQ(ReadInteger("3.5", ok), 4);
  EXPECT_EQ(ReadInteger("-2.5", ok), -2);
  EXPECT_EQ(ReadInteger("1e30", ok), std::numeric_limits<int>::max());
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(1.5), 2);
  EXPECT_EQ(RoundHalfEven(-1.5), -2);
  EXPECT_EQ(RoundHalfEven(2.4999), 2);
  EXPECT_EQ(RoundHalfEven(std::nan("")), 0);
}

TEST(FormatNumber, FieldsAndAsterisks) {
  EXPECT_EQ(FormatNumber(4, 0, 12345), "****");
  EXPECT_EQ(FormatNumber(5, 2, 123.456), "*****");
  EXPECT_EQ(FormatNumber(7, 2, 123.456), " 123.46");
  EXPECT_EQ(FormatNumber(6, 1, 0.0), "   0.0");
  EXPECT_EQ(FormatNumber(6, 1, -12.34), " -12.3");
  EXPECT_EQ(FormatNumber(5, 1, -123.4), "*****");  // the sign needs its place
  EXPECT_EQ(FormatNumber(30, 0, 1e40), std::string(23, '*'));
  EXPECT_EQ(FormatNumber(8, 2, std::nan("")), "********");
  EXPECT_EQ(FormatNumber(8, 2, INFINITY), "********");
}

TEST(FormatNumber, CompactForms) {
  EXPECT_EQ(FormatNumberCompact(8, 0.0), "0");
  EXPECT_EQ(FormatNumberCompact(8, 42.0), "42");
  EXPECT_EQ(FormatNumberCompact(8, -7.0), "-7");
  EXPECT_EQ(FormatNumberCompact(8, 3.14159265), "3.141593");  // 8 - 1 - 1 decimals
  EXPECT_EQ(FormatNumberCompact(8, 123.456), "123.4560");
  EXPECT_EQ(FormatNumberCompact(8, 123456.5), "1.234565E+05");  // at 10^(8-3) and above
  EXPECT_EQ(FormatNumberCompact(6, 0.25), "0.2500");
}

TEST(FormatNumber, RoundTripThroughReadNumber) {
  const double values[] = {0.0, 1.0, -1.0, 0.001, 123.456, -9876.54321, 4095.0, 1e-3, 0.25};
  for (double v : values) {
    for (int decimals : {0, 2, 4}) {
      int ok = 1;
      std::string text = FormatNumber(16, decimals, v);
      double back = ReadNumber(text, ok);
      EXPECT_EQ(ok, 1) << text;
      EXPECT_NEAR(back, v, 0.5 * std::pow(10.0, -decimals) + 1e-12) << text;
    }
    int ok = 1;
    EXPECT_NEAR(ReadNumber(FormatNumberCompact(10, v), ok), v, 1e-6 * (1 + std::fabs(v)));
  }
}

TEST(FreeField, TokensAndLines) {
  std::vector<double> n;
  EXPECT_EQ(ParseNumberList("1,2 3\t.5", n), 4);
  EXPECT_EQ(n, (std::vector<double>{1, 2, 3, 0.5}));
  // Characters that cannot belong to a number are dropped; tokens without a number are skipped.
  EXPECT_EQ(ParseNumberList("12cts abc 7", n), 2);
  EXPECT_EQ(n, (std::vector<double>{12, 7}));
  EXPECT_EQ(ParseNumberList("nan inf", n), 0);
  bool outOfRange = false;
  EXPECT_EQ(ParseNumberList("1 1e999 2", n, &outOfRange), 2);
  EXPECT_TRUE(outOfRange);
  outOfRange = false;
  ParseNumberList("1e-999 2d3", n, &outOfRange);
  EXPECT_FALSE(outOfRange);
  EXPECT_EQ(n, (std::vector<double>{0, 2000}));

  std::string line = "* comment";
  EXPECT_EQ(ClassifyFreeFieldLine(line), FreeFieldLine::kSkip);
  line = "/ end";
  EXPECT_EQ(ClassifyFreeFieldLine(line), FreeFieldLine::kEndOfBlock);
  line = "1 2 * the rest is a remark 3\r";
  EXPECT_EQ(ClassifyFreeFieldLine(line), FreeFieldLine::kData);
  EXPECT_EQ(line, "1 2 ");
  line.assign(1, '\r');
  EXPECT_EQ(ClassifyFreeFieldLine(line), FreeFieldLine::kSkip);
}

TEST(FreeField, StreamReadsAcrossLinesAndBlocks) {
  std::istringstream in("* calibration\n1 2\n3 4\n5 6\n/\n7 8\n\n9\n");
  NumberStream stream(in);
  std::vector<double> v(10, 0.0);
  // Three at a time from two per line: the third comes from the next line, the rest of it is lost.
  EXPECT_EQ(stream.Read(v, 1, 3), 3);
  EXPECT_EQ(v[1], 1);
  EXPECT_EQ(v[3], 3);
  EXPECT_EQ(stream.Read(v, 1, 3), 2);  // "5 6", then the "/" ends this reading
  EXPECT_EQ(v[1], 5);
  EXPECT_EQ(v[2], 6);
  EXPECT_EQ(stream.Read(v, 4, 100), 3);  // the last index is clamped to the array
  EXPECT_EQ(v[4], 7);
  EXPECT_EQ(v[6], 9);
  EXPECT_TRUE(stream.atEnd());
  EXPECT_EQ(stream.Read(v, 1, 3), 0);
}

TEST(FormatFixed, WidensWhenTooNarrow) {
  EXPECT_EQ(FormatFixed(1234.56, 9, 0), "     1235");
  EXPECT_EQ(FormatFixed(123456789.0, 4, 1), "123456789.0");
  EXPECT_EQ(FormatInt(42, 5), "   42");
  EXPECT_EQ(FormatInt(-123456, 3), "-123456");
}

}  // namespace
}  // namespace orv
