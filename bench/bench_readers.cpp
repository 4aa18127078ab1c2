// Costs of reading spectra and of the number text routines under them: the readers run on every
// "Input the Spectrum", the number routines on every line of a text spectrum and every field written.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "core/numtext.h"
#include "spectrum/formats/formats.h"
#include "spectrum/readers.h"

namespace {

// Counts shaped like a gamma spectrum: a falling continuum with a peak every 512 channels.
double SyntheticCount(int channel) {
  double continuum = 20000.0 / (1.0 + channel / 300.0);
  double inPeak = (channel % 512) - 256;
  double peak = inPeak * inPeak < 100.0 ? 5000.0 - 50.0 * inPeak * inPeak : 0.0;
  return static_cast<double>(static_cast<long long>(continuum + peak));
}

// Eight numbers to a line, as analysers write their text exports.
std::string FreeFieldText(int channels) {
  std::string text = "* synthetic spectrum\n";
  for (int ch = 1; ch <= channels; ++ch) {
    text += std::to_string(static_cast<long long>(SyntheticCount(ch)));
    text += ch % 8 == 0 ? '\n' : ' ';
  }
  return text;
}

void BM_ReadFreeFieldSpectrum(benchmark::State& state) {
  const int channels = static_cast<int>(state.range(0));
  const std::string text = FreeFieldText(channels);
  std::istringstream in(text);
  orv::TSpectrum s;
  for (auto _ : state) {
    in.clear();
    in.seekg(0);
    s.a1 = 1;
    orv::ReadOutcome r = orv::ReadFreeFieldSpectrum(s, in);
    if (!r.ok || s.a2 != channels) state.SkipWithError("reading failed");
    benchmark::DoNotOptimize(s.sp.data());
  }
  state.SetItemsProcessed(state.iterations() * channels);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadFreeFieldSpectrum)->Arg(16384);

void BM_ReadBinarySpectrum(benchmark::State& state) {
  const int values = static_cast<int>(state.range(0));
  std::vector<unsigned char> bytes;
  for (int ch = 1; ch <= values; ++ch) {
    auto v = static_cast<std::uint16_t>(SyntheticCount(ch));
    bytes.push_back(static_cast<unsigned char>(v & 0xff));
    bytes.push_back(static_cast<unsigned char>(v >> 8));
  }
  orv::TSpectrum s;
  const orv::InputOptions options;
  for (auto _ : state) {
    orv::ReadOutcome r = orv::ReadBinarySpectrum(s, bytes.data(), bytes.size(), 2, options);
    if (!r.ok || s.a2 != values) state.SkipWithError("reading failed");
    benchmark::DoNotOptimize(s.sp.data());
  }
  state.SetItemsProcessed(state.iterations() * values);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_ReadBinarySpectrum)->Arg(orv::kSpectrumCapacity);

void BM_ParseNumberList(benchmark::State& state) {
  // Counts, fractions, exponents and all three separators.
  const std::string line =
      "  174  176,180\t160  170.5  203  1.92E2  173  182  197.25  185  179  1.72d2  184  179  0.179e3";
  std::vector<double> numbers;
  for (auto _ : state) {
    int n = orv::ParseNumberList(line, numbers);
    if (n != 16) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(numbers.data());
  }
  state.SetItemsProcessed(state.iterations() * 16);
}
BENCHMARK(BM_ParseNumberList);

void BM_FormatNumber(benchmark::State& state) {
  // Magnitudes from fractions to values that overflow the field.
  const std::vector<double> values = {0.0, 1.5, -27.125, 434103.0, 10826.75, -0.003, 1.0e9, 98765.4321};
  std::size_t i = 0;
  for (auto _ : state) {
    std::string text = orv::FormatNumber(12, 4, values[i]);
    benchmark::DoNotOptimize(text);
    i = (i + 1) % values.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatNumber);

// The analysers' own formats: an SPE file of 10 counts to a line and an N42 file of 2012 with
// CountedZeroes, each of 16384 channels, and the detection that precedes every reading without a type.
std::string SpeText(int channels) {
  std::string text =
      "$SPEC_ID:\nsynthetic\n$MEAS_TIM:\n300 301\n$DATA:\n0 " + std::to_string(channels - 1) + "\n";
  for (int ch = 1; ch <= channels; ++ch) {
    text += std::to_string(static_cast<long long>(SyntheticCount(ch)));
    text += ch % 10 == 0 || ch == channels ? '\n' : ' ';
  }
  return text + "$MCA_CAL:\n3\n0.5 0.25 1e-7 keV\n";
}

std::string N42Text(int channels) {
  std::string text =
      "<RadInstrumentData xmlns=\"http://physics.nist.gov/N42/2011/N42\"><EnergyCalibration id=\"e\">"
      "<CoefficientValues>0.5 0.25</CoefficientValues></EnergyCalibration><RadMeasurement id=\"m\">"
      "<RealTimeDuration>PT301S</RealTimeDuration><Spectrum id=\"s\" energyCalibrationReference=\"e\">"
      "<LiveTimeDuration>PT300S</LiveTimeDuration><ChannelData compressionCode=\"CountedZeroes\">0 100";
  for (int ch = 101; ch <= channels; ++ch)
    text += " " + std::to_string(static_cast<long long>(SyntheticCount(ch)));
  return text + "</ChannelData></Spectrum></RadMeasurement></RadInstrumentData>";
}

template <orv::ReadOutcome (*Reader)(orv::TSpectrum&, std::string_view)>
void ReadFormat(benchmark::State& state, const std::string& text, int channels) {
  orv::TSpectrum s;
  for (auto _ : state) {
    orv::ReadOutcome r = Reader(s, text);
    if (!r.ok || s.a2 != channels) state.SkipWithError("reading failed");
    benchmark::DoNotOptimize(s.sp.data());
  }
  state.SetItemsProcessed(state.iterations() * channels);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_ReadIaeaSpe(benchmark::State& state) {
  const int channels = static_cast<int>(state.range(0));
  ReadFormat<orv::ReadIaeaSpe>(state, SpeText(channels), channels);
}
BENCHMARK(BM_ReadIaeaSpe)->Arg(16384);

void BM_ReadN42(benchmark::State& state) {
  const int channels = static_cast<int>(state.range(0));
  ReadFormat<orv::ReadN42>(state, N42Text(channels), channels);
}
BENCHMARK(BM_ReadN42)->Arg(16384);

void BM_DetectFormat(benchmark::State& state) {
  const std::string text = FreeFieldText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const int type = orv::DetectFormatOfContent(text, text.size());
    if (type != 3) state.SkipWithError("wrong format");
    benchmark::DoNotOptimize(type);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_DetectFormat)->Arg(16384);

}  // namespace
