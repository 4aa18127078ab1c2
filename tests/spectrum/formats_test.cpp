#include "spectrum/formats/formats.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "spectrum/formats/format_util.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using formats::EvaluatePolynomial;

// Counts with a shape: a background and a peak, so that a shifted reading would show.
std::vector<double> Counts(int n) {
  std::vector<double> c(n);
  for (int i = 0; i < n; ++i) c[i] = 10 + i % 7 + (i == n / 2 ? 500 : 0);
  return c;
}

// A spectrum object that a refused reading must leave alone.
TSpectrum Marked() {
  TSpectrum s("file.x");
  s.a1 = 3;
  s.a2 = 9;
  s.sp[1] = 77;
  s.measurement.liveTime = 5;
  return s;
}

void ExpectUntouched(const TSpectrum& s) {
  EXPECT_EQ(std::tuple(s.a1, s.a2, s.sp[1], s.measurement.liveTime), std::tuple(3, 9, 77.0, 5.0));
}

using Cases = std::vector<std::pair<std::string, std::string>>;

// Each text is refused with one message that names the file and the reason, and the spectrum keeps
// what it held.
void ExpectRefusals(ReadOutcome (*read)(TSpectrum&, std::string_view), const Cases& cases) {
  for (const auto& [text, why] : cases) {
    TSpectrum s = Marked();
    ReadOutcome r = read(s, text);
    EXPECT_FALSE(r.ok) << why;
    ASSERT_EQ(r.messages.size(), 1u) << why;
    EXPECT_EQ(r.messages[0].rfind("Error, file.x: ", 0), 0u) << r.messages[0];
    EXPECT_NE(r.messages[0].find(why), std::string::npos) << r.messages[0];
    ExpectUntouched(s);
  }
}

std::string FirstMessage(const ReadOutcome& r) {
  return r.messages.empty() ? "" : r.messages[0];
}

void ExpectCounts(const TSpectrum& s, const std::vector<double>& c) {
  ASSERT_EQ(s.a1, 1);
  ASSERT_EQ(s.a2, static_cast<int>(c.size()));
  for (std::size_t i = 0; i < c.size(); ++i) ASSERT_EQ(s.sp[i + 1], c[i]) << "channel " << i + 1;
}

// E(c) of our channel against the file's polynomial at file channel c + shift.
void ExpectCalibration(const TSpectrum& s, const std::vector<double>& file, double shift) {
  const auto& ours = s.measurement.energyCoefficients;
  ASSERT_FALSE(ours.empty());
  for (double c : {1.0, 17.0, static_cast<double>(s.a2)})
    EXPECT_NEAR(EvaluatePolynomial(ours, c), EvaluatePolynomial(file, c + shift), 1e-9) << c;
}

std::string Lines(const std::vector<double>& c, int perLine, const char* eol, bool reals) {
  std::string out;
  char text[32];
  for (std::size_t i = 0; i < c.size(); ++i) {
    std::snprintf(text, sizeof text, reals ? "%.1f" : "%.0f", c[i]);
    out += text;
    out += (i + 1) % perLine == 0 || i + 1 == c.size() ? eol : " ";
  }
  return out;
}

TEST(IaeaSpe, ReadsSectionsLineLayoutsAndCalibration) {
  const std::vector<double> c = Counts(37);
  for (const char* eol : {"\n", "\r\n"}) {
    for (int perLine : {8, 10}) {
      for (bool reals : {false, true}) {
        std::string e(eol);
        const std::string text = "$SPEC_ID:" + e + "HPGe test" + e + "$SPEC_REM:" + e + "DET# 1" + e +
                                 "$DATE_MEA:" + e + "03/21/2019 14:05:09" + e + "$MEAS_TIM:" + e +
                                 "300 301.5" + e + "$DATA:" + e + "0 36" + e + Lines(c, perLine, eol, reals) +
                                 "$ROI:" + e + "0" + e + "$ENER_FIT:" + e + "1.5 0.25" + e + "$MCA_CAL:" + e +
                                 "3" + e + "1.5E+000 2.5E-001 1.0E-006 keV" + e + "$SHAPE_CAL:" + e + "3" +
                                 e + "1 0 0" + e + "$ENDRECORD:" + e;
        TSpectrum s("a.spe");
        ReadOutcome r = ReadIaeaSpe(s, text);
        ASSERT_TRUE(r.ok) << FirstMessage(r);
        ExpectCounts(s, c);
        EXPECT_EQ(s.measurement.liveTime, 300.0);
        EXPECT_EQ(s.measurement.realTime, 301.5);
        EXPECT_EQ(s.measurement.startTime, "2019-03-21 14:05:09");
        EXPECT_EQ(s.measurement.description, "HPGe test");
        // $MCA_CAL wins over $ENER_FIT; file channel 0 is our channel 1.
        ExpectCalibration(s, {1.5, 0.25, 1e-6}, -1.0);
      }
    }
  }
  // A first channel other than 0 moves the calibration with it; $ENER_FIT alone is a straight line.
  TSpectrum s("b.spe");
  ASSERT_TRUE(ReadIaeaSpe(s, "$DATA:\n5 9\n1 2 3 4 5\n$ENER_FIT:\n+2.0E+00 5.0E-01\n").ok);
  ExpectCounts(s, {1, 2, 3, 4, 5});
  ExpectCalibration(s, {2, 0.5}, 4.0);
  EXPECT_EQ(s.measurement.energyCoefficients.size(), 2u);
  // An all-zero calibration is none.
  ASSERT_TRUE(ReadIaeaSpe(s, "$ENER_FIT:\n0 0\n$DATA:\n0 1\n4 5\n").ok);
  EXPECT_TRUE(s.measurement.energyCoefficients.empty());
}

TEST(IaeaSpe, RefusesCorruptionAndKeepsTheSpectrum) {
  ExpectRefusals(ReadIaeaSpe, {
                                  {"$DATA:\n0 9\n1 2 3\n", "10 channels declared, 3 counts found"},
                                  {"$DATA:\n0 2\n1 2 3 4\n", "more counts than"},
                                  {"$DATA:\n0 2\n1 x 3\n", "is not a number"},
                                  {"$DATA:\n0 2\n1 -2 3\n", "is not a count"},
                                  {"$DATA:\n0 2\n1 nan 3\n", "is not a count"},
                                  {"$DATA:\n0 40000\n1\n", "more than 32768"},
                                  {"$DATA:\n", "first and last channel"},
                                  {"$SPEC_ID:\nx\n", "no $DATA: section"},
                                  {"$DATA:\n0 1\n1 2\n$MCA_CAL:\n2\n1 inf keV\n", "not a finite number"},
                                  {"$DATA:\n0 1\n1 2\n$MEAS_TIM:\n-5 10\n", "not a time"},
                              });
}

// A CHN file as the layout describes it.
std::string Chn(const std::vector<std::uint32_t>& counts, int offset, int trailerCode,
                bool withDescriptions) {
  std::string b(32, '\0');
  auto put16 = [&](std::size_t at, int v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
  };
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    put16(at, v & 0xFFFF);
    put16(at + 2, v >> 16);
  };
  put16(0, -1);
  put16(2, 1);
  std::memcpy(&b[6], "42", 2);
  put32(8, 15075);   // real time 301.5 s in 20 ms ticks
  put32(12, 15000);  // live time 300 s
  std::memcpy(&b[16], "21MAR191", 8);
  std::memcpy(&b[24], "1405", 4);
  put16(28, offset);
  put16(30, static_cast<int>(counts.size()));
  for (std::uint32_t v : counts) {
    b.resize(b.size() + 4);
    put32(b.size() - 4, v);
  }
  if (trailerCode != 0) {
    const std::size_t t = b.size();
    b.resize(t + (withDescriptions ? 512 : 28), '\0');
    put16(t, trailerCode);
    const float f[] = {1.5f, 0.25f, 1e-6f, 1.1f, 0.002f, 0.0f};
    for (int k = 0; k < 6; ++k) std::memcpy(&b[t + 4 + 4 * k], &f[k], 4);
    if (withDescriptions) {
      b[t + 256] = 4;
      std::memcpy(&b[t + 257], "HPGe", 4);
      b[t + 320] = 6;
      std::memcpy(&b[t + 321], "Eu-152", 6);
    }
  }
  return b;
}

TEST(OrtecChn, ReadsHeaderCountsAndTrailer) {
  const std::vector<std::uint32_t> counts = {0, 5, 4000000000u, 7, 9, 11, 13, 2};
  const std::vector<double> expected(counts.begin(), counts.end());
  for (int code : {0, -101, -102}) {
    for (bool descriptions : {false, true}) {
      TSpectrum s("a.chn");
      ReadOutcome r = ReadOrtecChn(s, Chn(counts, 100, code, descriptions));
      ASSERT_TRUE(r.ok) << FirstMessage(r);
      ExpectCounts(s, expected);
      EXPECT_DOUBLE_EQ(s.measurement.liveTime, 300.0);
      EXPECT_DOUBLE_EQ(s.measurement.realTime, 301.5);
      EXPECT_EQ(s.measurement.startTime, "2019-03-21 14:05:42");
      if (code == 0) {
        EXPECT_TRUE(s.measurement.energyCoefficients.empty());
        continue;
      }
      // Channel offset 100: our channel 1 is the analyser's channel 100.
      std::vector<double> file = {1.5f, 0.25f};
      if (code == -102) file.push_back(1e-6f);
      ExpectCalibration(s, file, 99.0);
      EXPECT_EQ(s.measurement.energyCoefficients.size(), file.size());
      EXPECT_EQ(s.measurement.description, descriptions ? "HPGe; Eu-152" : "");
    }
  }
}

TEST(OrtecChn, RefusesCorruption) {
  const std::string good = Chn({1, 2, 3}, 0, -101, true);
  std::string noChannels = Chn({}, 0, 0, false);
  std::string nan = good;
  const float bad = NAN;
  std::memcpy(&nan[32 + 12 + 4], &bad, 4);
  ExpectRefusals(ReadOrtecChn, {
                                   {good.substr(0, 20), "truncated header"},
                                   {good.substr(0, 40), "declares 3 channels, the file holds 2"},
                                   {Chn({1, 2, 3}, 0, 0, false) + "junk", "no calibration trailer"},
                                   {good.substr(0, 32 + 12 + 10), "truncated calibration trailer"},
                                   {noChannels, "declares no channels"},
                                   {"\x01\x02" + good.substr(2), "not an ORTEC CHN file"},
                                   {nan, "not a finite number"},
                               });
}

const char* const kN42Of2006 = R"(<?xml version="1.0"?>
<N42InstrumentData xmlns="http://physics.nist.gov/Divisions/Div846/Gp4/ANSIN4242/2005/ANSIN4242"
    xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
  <Measurement>
    <InstrumentInformation><InstrumentType>Spectrometer</InstrumentType></InstrumentInformation>
    <Spectrum Type="PHA" Detector="Ge-1">
      <StartTime>2019-03-21T14:05:09-07:00</StartTime>
      <RealTime>PT5M1.5S</RealTime>
      <LiveTime>PT300S</LiveTime>
      <Calibration Type="Energy" EnergyUnits="keV">
        <Equation Model="Polynomial"><Coefficients>1.5 0.25 1e-6</Coefficients></Equation>
      </Calibration>
      <ChannelData>
        10 11 12 13
        14 15 16
      </ChannelData>
    </Spectrum>
  </Measurement>
</N42InstrumentData>
)";

const char* const kN42Of2012 = R"(<?xml version="1.0" encoding="UTF-8"?>
<n42:RadInstrumentData xmlns:n42="http://physics.nist.gov/N42/2011/N42" n42DocUUID="x">
  <n42:RadDetectorInformation id="neutron1">
    <n42:RadDetectorCategoryCode>Neutron</n42:RadDetectorCategoryCode>
  </n42:RadDetectorInformation>
  <n42:RadDetectorInformation id="gamma1">
    <n42:RadDetectorCategoryCode>Gamma</n42:RadDetectorCategoryCode>
  </n42:RadDetectorInformation>
  <n42:EnergyCalibration id="ecOther"><n42:CoefficientValues>0 3</n42:CoefficientValues></n42:EnergyCalibration>
  <n42:EnergyCalibration id="ec1"><n42:CoefficientValues>-2.0 0.5</n42:CoefficientValues></n42:EnergyCalibration>
  <n42:RadMeasurement id="background">
    <n42:StartDateTime>2020-01-02T03:04:05Z</n42:StartDateTime>
    <n42:RealTimeDuration>PT1H0.5S</n42:RealTimeDuration>
    <n42:Spectrum id="n" radDetectorInformationReference="neutron1">
      <n42:ChannelData>5</n42:ChannelData>
    </n42:Spectrum>
    <n42:Spectrum id="g" radDetectorInformationReference="gamma1" energyCalibrationReference="ec1">
      <n42:LiveTimeDuration>PT3599.25S</n42:LiveTimeDuration>
      <n42:ChannelData compressionCode="CountedZeroes">0 3 7 8 0 2 9</n42:ChannelData>
    </n42:Spectrum>
  </n42:RadMeasurement>
  <n42:RadMeasurement id="foreground">
    <n42:Spectrum id="g2" radDetectorInformationReference="gamma1">
      <n42:ChannelData>1 2 3</n42:ChannelData>
    </n42:Spectrum>
  </n42:RadMeasurement>
</n42:RadInstrumentData>
)";

TEST(N42, ReadsBothSchemasAndCountedZeroes) {
  TSpectrum s("old.n42");
  ReadOutcome r = ReadN42(s, kN42Of2006);
  ASSERT_TRUE(r.ok) << FirstMessage(r);
  ExpectCounts(s, {10, 11, 12, 13, 14, 15, 16});
  EXPECT_EQ(s.measurement.liveTime, 300.0);
  EXPECT_EQ(s.measurement.realTime, 301.5);
  EXPECT_EQ(s.measurement.startTime, "2019-03-21 14:05:09");
  ExpectCalibration(s, {1.5, 0.25, 1e-6}, -1.0);
  EXPECT_TRUE(r.messages.empty());

  TSpectrum t("new.n42");
  r = ReadN42(t, kN42Of2012);
  ASSERT_TRUE(r.ok) << FirstMessage(r);
  // The neutron spectrum is passed over; the first gamma spectrum is taken and the reader says which.
  ExpectCounts(t, {0, 0, 0, 7, 8, 0, 0, 9});
  EXPECT_EQ(t.measurement.liveTime, 3599.25);
  EXPECT_EQ(t.measurement.realTime, 3600.5);
  EXPECT_EQ(t.measurement.startTime, "2020-01-02 03:04:05");
  ExpectCalibration(t, {-2.0, 0.5}, -1.0);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_NE(r.messages[0].find("measurement background, detector gamma1"), std::string::npos)
      << r.messages[0];
}

TEST(N42, RefusesBadDocuments) {
  ExpectRefusals(
      ReadN42,
      {
          {"<RadInstrumentData><RadMeasurement><Spectrum><ChannelData>1 2", "not well formed"},
          {"<RadInstrumentData><RadMeasurement/></RadInstrumentData>", "no gamma spectrum"},
          {"<Other><Spectrum><ChannelData>1</ChannelData></Spectrum></Other>", "not an N42 document"},
          {"<RadInstrumentData><Spectrum><ChannelData compressionCode=\"CountedZeroes\">0 40000</ChannelData>"
           "</Spectrum></RadInstrumentData>",
           "too long"},
          {"<RadInstrumentData><Spectrum><ChannelData>1 -3</ChannelData></Spectrum></RadInstrumentData>",
           "is not a count"},
          {"<RadInstrumentData><Spectrum><LiveTimeDuration>P1Y</LiveTimeDuration><ChannelData>1</ChannelData>"
           "</Spectrum></RadInstrumentData>",
           "not a duration"},
          {"<RadInstrumentData><Spectrum><ChannelData>1 abc</ChannelData></Spectrum></RadInstrumentData>",
           "not a number"},
      });
}

TEST(AmptekMca, ReadsSectionsAndFitsTheCalibrationPairs) {
  const std::string text =
      "<<PMCA SPECTRUM>>\r\nTAG - live_data\r\nDESCRIPTION - Cd-109\r\nGAIN - 2\r\nLIVE_TIME - 120.5\r\n"
      "REAL_TIME - 125.25\r\nSTART_TIME - 03/21/2019 14:05:09\r\n<<CALIBRATION>>\r\nLABEL - keV\r\n"
      "10 22.1\r\n100 88.0341\r\n<<DATA>>\r\n0\r\n4\r\n9\r\n100\r\n3\r\n<<END>>\r\n<<DPP CONFIGURATION>>\r\n"
      "RESC=Y;\r\n<<DPP CONFIGURATION END>>\r\n";
  TSpectrum s("a.mca");
  ReadOutcome r = ReadAmptekMca(s, text);
  ASSERT_TRUE(r.ok) << FirstMessage(r);
  ExpectCounts(s, {0, 4, 9, 100, 3});
  EXPECT_EQ(s.measurement.liveTime, 120.5);
  EXPECT_EQ(s.measurement.realTime, 125.25);
  EXPECT_EQ(s.measurement.startTime, "2019-03-21 14:05:09");
  EXPECT_EQ(s.measurement.description, "live_data; Cd-109");
  // The line through the two pairs, analyser channel 0 being our channel 1.
  const double slope = (88.0341 - 22.1) / 90.0;
  ExpectCalibration(s, {22.1 - 10 * slope, slope}, -1.0);

  ExpectRefusals(ReadAmptekMca,
                 {
                     {"<<PMCA SPECTRUM>>\n<<DATA>>\n1\n2\n", "not closed by <<END>>"},
                     {"<<PMCA SPECTRUM>>\n<<DATA>>\n1\nx\n<<END>>\n", "is not a number"},
                     {"<<PMCA SPECTRUM>>\n<<DATA>>\n1\n-1\n<<END>>\n", "is not a count"},
                     {"<<PMCA SPECTRUM>>\nLIVE_TIME - 1\n", "no <<DATA>>"},
                     {"<<PMCA SPECTRUM>>\n<<CALIBRATION>>\n1 nan\n2 5\n<<DATA>>\n1\n<<END>>\n", "not finite"},
                 });
}

TEST(HeadedCsv, FindsColumnsByNameAndFitsEnergies) {
  TSpectrum s("a.csv");
  ReadOutcome r =
      ReadHeadedCsv(s, "# exported\nChannel,Energy (keV),Counts\n0,1.5,5\n1,1.75,6\n2,2,7\n3,2.25,0\n");
  ASSERT_TRUE(r.ok) << FirstMessage(r);
  ExpectCounts(s, {5, 6, 7, 0});
  ExpectCalibration(s, {1.5, 0.25}, -1.0);
  EXPECT_EQ(s.measurement.energyCoefficients.size(), 2u);

  // TSV of counts alone; semicolons with decimal commas; a parabola through curved energies.
  ASSERT_TRUE(ReadHeadedCsv(s, "cts\r\n3\r\n4.5\r\n").ok);
  ExpectCounts(s, {3, 4.5});
  EXPECT_TRUE(s.measurement.energyCoefficients.empty());
  ASSERT_TRUE(ReadHeadedCsv(s, "\"x\";\"y\"\n1;2,5\n2;3,5\n").ok);
  ExpectCounts(s, {2.5, 3.5});
  ASSERT_TRUE(ReadHeadedCsv(s, "Channel  Counts\n 0   7\n 1  8\n").ok);
  ExpectCounts(s, {7, 8});
  ASSERT_TRUE(ReadHeadedCsv(s, "energy\tcounts\n1\t1\n4\t1\n9\t1\n16\t1\n").ok);
  ExpectCalibration(s, {0, 0, 1}, 0.0);

  EXPECT_TRUE(formats::FitCalibration({1}, {2}).empty());
  ExpectRefusals(ReadHeadedCsv, {
                                    {"time,value2\n1,2\n", "no header row with a counts column"},
                                    {"channel,counts\n1,2\n3,4\n", "does not rise by 1"},
                                    {"counts\n1\nabc\n", "is not a number"},
                                    {"channel,counts\n1\n", "1 fields in line 2"},
                                    {"counts\n", "no data rows"},
                                    {"counts\n-4\n", "is not a count"},
                                });
}

TEST(FormatDetection, TellsFormatsByContent) {
  const std::string chn = Chn({1, 2, 3}, 0, 0, false), chnTrailer = Chn({1, 2, 3}, 0, -102, true);
  EXPECT_EQ(DetectFormatOfContent(chn, chn.size()), kOrtecChnType);
  EXPECT_EQ(DetectFormatOfContent(chnTrailer, chnTrailer.size()), kOrtecChnType);
  EXPECT_EQ(DetectFormatOfContent(chn + "x", chn.size() + 1), 0);  // no trailer: not CHN, and binary
  EXPECT_EQ(DetectFormatOfContent("\xEF\xBB\xBF$SPEC_ID:\r\nx\r\n$DATA:\r\n0 1\r\n1 2\r\n", 40),
            kIaeaSpeType);
  EXPECT_EQ(DetectFormatOfContent(kN42Of2006, std::strlen(kN42Of2006)), kN42Type);
  EXPECT_EQ(DetectFormatOfContent(kN42Of2012, std::strlen(kN42Of2012)), kN42Type);
  // The same in UTF-16 little-endian, which the reader takes too.
  std::string wide = "\xFF\xFE";
  for (const char* p = kN42Of2006; *p; ++p) wide += std::string{*p, '\0'};
  EXPECT_EQ(DetectFormatOfContent(wide, wide.size()), kN42Type);
  TSpectrum w("wide.n42");
  ASSERT_TRUE(ReadN42(w, wide).ok);
  EXPECT_EQ(w.a2, 7);
  // Lines of two or three numbers with a first column rising by one step are X, Y lines (type 4).
  for (auto [text, type] :
       std::vector<std::pair<std::string, int>>{{"<<PMCA SPECTRUM>>\nLIVE_TIME - 1\n", kAmptekMcaType},
                                                {"channel,counts\n1,4\n", kCsvType},
                                                {"channel counts\n1 4\n", kCsvType},
                                                {"* xy\n100 5\n100.5 6 2\n101 7\n", 4},
                                                {"100 5\n102 6\n103 7\n", 3},
                                                {"1 2 3 4\n5 6 7 8\n", 3},
                                                {"5\n", 3},
                                                {"hello world\n", 0},
                                                {std::string("\x01\x00\x02\x00", 4), 0},
                                                {"", 0}})
    EXPECT_EQ(DetectFormatOfContent(text, text.size()), type) << text;

  // By the file: the content wins over the extension, and a failure says what was tried.
  const fs::path dir = fs::temp_directory_path() / ("orv_detect_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "really_csv.spe") << "counts\n1\n";
  std::ofstream(dir / "odd.spe") << "@@@\n";
  EXPECT_EQ(DetectSpectrumFormat((dir / "really_csv.spe").string()).type, kCsvType);
  const FormatGuess g = DetectSpectrumFormat((dir / "odd.spe").string());
  EXPECT_EQ(g.type, 0);
  EXPECT_NE(g.message.find("tried IAEA SPE, ORTEC CHN"), std::string::npos);
  EXPECT_EQ(DetectSpectrumFormat(ORVANT_SOURCE_DIR "/data/spectra/demo_gamma.spe").type, 3);
  fs::remove_all(dir);

  EXPECT_EQ(std::vector({FileTypeFromName("SPE"), FileTypeFromName("4"), FileTypeFromName("csv"),
                         FileTypeFromName("10"), FileTypeFromName("xml")}),
            std::vector({kIaeaSpeType, 4, kCsvType, 0, 0}));
}

TEST(FormatWriters, SpeAndN42ReadBackExactly) {
  const fs::path dir = fs::temp_directory_path() / ("orv_writers_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  TSpectrum s("source.txt");
  s.a1 = 3;
  s.a2 = 40;
  for (int c = s.a1; c <= s.a2; ++c) s.sp[c] = c == 20 ? 1234.5678901234567 : 7 * c % 13;
  s.measurement.liveTime = 299.98;
  s.measurement.realTime = 301.02;
  s.measurement.startTime = "2021-06-07 08:09:10";
  const std::vector<double> ours = {-3.25, 0.3333333333333333, 2.5e-7};
  for (int type : {kIaeaSpeType, kN42Type}) {
    const std::string path = (dir / (type == kN42Type ? "w.n42" : "w.spe")).string();
    std::string error;
    ASSERT_TRUE(type == kN42Type ? WriteN42(s, ours, path, &error) : WriteIaeaSpe(s, ours, path, &error))
        << error;
    EXPECT_EQ(DetectSpectrumFormat(path).type, type);
    TSpectrum back(path);
    back.fileType = type;
    ReadOutcome r = ReadFormatFile(back);
    ASSERT_TRUE(r.ok) << FirstMessage(r);
    ASSERT_EQ(back.a2, s.a2 - s.a1 + 1);
    for (int c = 1; c <= back.a2; ++c) ASSERT_EQ(back.sp[c], s.sp[c + s.a1 - 1]);
    EXPECT_EQ(back.measurement.liveTime, 299.98);
    EXPECT_EQ(back.measurement.realTime, 301.02);
    EXPECT_EQ(back.measurement.startTime, "2021-06-07 08:09:10");
    // Our channel c of the written file is channel c + a1 - 1 of the spectrum.
    for (double c : {1.0, 10.0, 38.0})
      EXPECT_NEAR(EvaluatePolynomial(back.measurement.energyCoefficients, c),
                  EvaluatePolynomial(ours, c + s.a1 - 1), 1e-12);
  }
  // Negative values are no counts: such a file would not read back.
  s.sp[5] = -1;
  std::string error;
  EXPECT_FALSE(WriteIaeaSpe(s, {}, (dir / "neg.spe").string(), &error));
  EXPECT_NE(error.find("channel 5"), std::string::npos);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace orv
