// Costs of reading spectra and of the number text routines under them: the readers run on every
// "Input the Spectrum", the number routines on every line of a text spectrum and every field written.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "core/numtext.h"
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

}  // namespace
