#include "core/numtext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace orv {
namespace {

TEST(ReadNumber, TypedTextKnownAnswers) {
  int ok = 7;
  // Decimal comma, Fortran exponent, blanks removed before parsing, underflow to zero.
  for (auto [text, value] : {std::pair{"1,5", 1.5},
                             {".5", 0.5},
                             {"2d3", 2000},
                             {"-1.25E-2", -0.0125},
                             {" 1 2 ", 12},
                             {"1e-400", 0}})
    EXPECT_DOUBLE_EQ(ReadNumber(text, ok), value) << text;
  EXPECT_EQ(ok, 1);
  // Empty text is 0 and leaves the acceptance as it was.
  ok = 0;
  EXPECT_DOUBLE_EQ(ReadNumber("", ok) + ReadNumber(" ", ok), 0.0);
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
  // Halves go to the even neighbour.
  for (auto [text, value] :
       {std::pair{"2.5", 2}, {"3.5", 4}, {"-2.5", -2}, {"1e30", std::numeric_limits<int>::max()}})
    EXPECT_EQ(ReadInteger(text, ok), value) << text;
  for (auto [x, value] : {std::pair{0.5, 0}, {1.5, 2}, {-1.5, -2}, {2.4999, 2}, {std::nan(""), 0}})
    EXPECT_EQ(RoundHalfEven(x), value) << x;
}

TEST(FormatNumber, FieldsAsterisksAndCompactForms) {
  EXPECT_EQ(FormatNumber(7, 2, 123.456), " 123.46");
  EXPECT_EQ(FormatNumber(4, 0, 12345), "****");
  EXPECT_EQ(FormatNumber(5, 1, -123.4), "*****");  // the sign needs its place
  EXPECT_EQ(FormatNumber(30, 0, 1e40), std::string(23, '*'));
  EXPECT_EQ(FormatNumber(8, 2, std::nan("")) + FormatNumber(8, 2, INFINITY), std::string(16, '*'));
  EXPECT_EQ(FormatNumberCompact(8, 0.0), "0");
  EXPECT_EQ(FormatNumberCompact(8, 3.14159265), "3.141593");  // 8 - 1 - 1 decimals
  EXPECT_EQ(FormatNumberCompact(8, 123.456), "123.4560");
  EXPECT_EQ(FormatNumberCompact(8, 123456.5), "1.234565E+05");  // at 10^(8-3) and above
  EXPECT_EQ(FormatFixed(1234.56, 9, 0), "     1235");
  EXPECT_EQ(FormatFixed(123456789.0, 4, 1), "123456789.0");  // widens when too narrow
  // No number: asterisks fill the field; a table keeps a blank between widened fields.
  EXPECT_EQ(FormatFixed(std::nan(""), 9, 2), "*********");
  EXPECT_EQ(FormatFixed(HUGE_VAL, 10, 2), "**********");
  EXPECT_EQ(JoinFields({FormatFixed(0.28, 9, 2), FormatFixed(12345678.9, 9, 2), FormatFixed(1.0, 9, 2)}),
            "     0.28 12345678.90     1.00");
  EXPECT_EQ(JoinFields({FormatNumber(9, 2, 7.89), FormatNumber(9, 2, 99999.999)}), "     7.89 100000.00");
  EXPECT_EQ(FormatInt(42, 5), "   42");
  EXPECT_EQ(FormatInt(-123456, 3), "-123456");
}

TEST(FormatNumber, RoundTripThroughReadNumber) {
  for (double v : {0.0, 1.0, -1.0, 0.001, 123.456, -9876.54321, 4095.0, 0.25}) {
    int ok = 1;
    for (int decimals : {0, 2, 4}) {
      const std::string text = FormatNumber(16, decimals, v);
      EXPECT_NEAR(ReadNumber(text, ok), v, 0.5 * std::pow(10.0, -decimals) + 1e-12) << text;
      EXPECT_EQ(ok, 1) << text;
    }
    EXPECT_NEAR(ReadNumber(FormatNumberCompact(10, v), ok), v, 1e-6 * (1 + std::fabs(v)));
    EXPECT_EQ(ok, 1) << v;
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
  EXPECT_TRUE(ParseNumberList("1 1e999 2", n, &outOfRange) == 2 && outOfRange);
  outOfRange = false;
  ParseNumberList("1e-999 2d3", n, &outOfRange);  // underflow is no overflow
  EXPECT_TRUE(!outOfRange && n == (std::vector<double>{0, 2000}));
  for (auto [text, kind] : {std::pair{"* comment", FreeFieldLine::kSkip},
                            {"/ end", FreeFieldLine::kEndOfBlock},
                            {"\r", FreeFieldLine::kSkip}}) {
    std::string line = text;
    EXPECT_EQ(ClassifyFreeFieldLine(line), kind) << text;
  }
  std::string line = "1 2 * the rest is a remark 3\r";
  EXPECT_EQ(ClassifyFreeFieldLine(line), FreeFieldLine::kData);
  EXPECT_EQ(line, "1 2 ");
}

TEST(FreeField, StreamReadsAcrossLinesAndBlocks) {
  std::istringstream in("* calibration\n1 2\n3 4\n5 6\n/\n7 8\n\n9\n");
  NumberStream stream(in);
  std::vector<double> v(10, 0.0);
  // Three at a time from two per line: the third comes from the next line, the rest of it is lost.
  EXPECT_EQ(stream.Read(v, 1, 3), 3);
  EXPECT_EQ(std::tuple(v[1], v[3]), std::tuple(1.0, 3.0));
  EXPECT_EQ(stream.Read(v, 1, 3), 2);  // "5 6", then the "/" ends this reading
  EXPECT_EQ(std::tuple(v[1], v[2]), std::tuple(5.0, 6.0));
  EXPECT_EQ(stream.Read(v, 4, 100), 3);  // the last index is clamped to the array
  EXPECT_EQ(std::tuple(v[4], v[6], stream.atEnd()), std::tuple(7.0, 9.0, true));
  EXPECT_EQ(stream.Read(v, 1, 3), 0);
}

}  // namespace
}  // namespace orv
