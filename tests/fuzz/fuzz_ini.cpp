// Command files of arbitrary bytes: whatever they say, the bounds stay inside the spectrum arrays, the
// calibration tables within their capacity, and the width law a finite line. IS reads spectra, but only
// the small files this target lays out at its start (one of each type), so a name in the input cannot
// make the fuzzer open a large file, a device or a pipe.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "analysis/command_file.h"
#include "fuzz_common.h"

namespace {

using orv::Check;

// The spectra IS may read; the seeds name them.
const std::filesystem::path kSpectra = "/tmp/orvant-fuzz-spectra";

std::set<std::string> LaySpectra() {
  std::filesystem::create_directories(kSpectra);
  std::string binary;
  for (int i = 0; i < 300; ++i) binary += static_cast<char>(i % 97), binary += static_cast<char>(i % 3);
  const std::vector<std::pair<std::string, std::string>> files = {
      {"s1.bin", binary},
      {"s3.txt", "* counts\n10 20 30 400 30 20 10 5 4 3 2 1\n1 2 3 100 3 2 1\n"},
      {"s4.txt", "1 100 3\n2 200\n3 300 -2\n4 50\n"}};
  std::set<std::string> names;
  for (const auto& [name, text] : files) {
    std::ofstream(kSpectra / name, std::ios::binary) << text;
    names.insert((kSpectra / name).string());
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::unique_ptr<orv::Workspace> ws = orv::NewWorkspace(".");
  static const std::set<std::string> spectra = LaySpectra();
  orv::SilentPort port(true);
  orv::CommandFileOptions options;
  options.mayLoad = [](const std::string& name) { return spectra.count(name) > 0; };
  std::istringstream in(orv::Text(data, size));
  orv::ReadCommandStream(*ws, port, in, options);

  const orv::TSpectrum& s = ws->spectrum;
  const orv::AnalysisState& st = ws->state;
  orv::CheckInvariants(s, true);
  Check(1 <= s.b1 && s.b1 <= s.b2 && s.b2 <= orv::kSpectrumCapacity);
  Check(st.intervalFirst == s.b1 && st.intervalLast == s.b2 && st.intervalLength == s.b2 - s.b1 + 1);
  Check(std::isfinite(st.kw0) && std::isfinite(st.kw1));
  Check(1 <= st.iterationLimit && st.iterationLimit <= orv::kMaxIterationLimit);
  Check(s.fileName.empty() || spectra.count(s.fileName) > 0);
  for (int count : {st.energyItemCount, st.efficiencyItemCount})
    Check(0 <= count && count <= orv::kCommandFileCalibrationItems);
  Check(!st.energyCalibrated || st.energyItemCount >= 2);
  Check(!st.efficiencyCalibrated || st.efficiencyItemCount >= 2);
  for (int i = 1; i < st.energyItemCount; ++i)
    Check(ws->calibration.energyItems[i].argument <= ws->calibration.energyItems[i + 1].argument);
  return 0;
}
