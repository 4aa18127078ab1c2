// The lists of spectrum names of arbitrary bytes: the loop's names file, the spectrum name list and the
// carbon analysis's list. Whatever they hold, the lists stay within their capacities and no name is
// empty or carries the blanks around it.
#include <sstream>

#include "analysis/carbon_line.h"
#include "fuzz_common.h"
#include "spectrum/name_list.h"

namespace {

using orv::Check;

bool Trimmed(const std::string& name) {
  return !name.empty() && name.front() != ' ' && name.back() != ' ' && name.front() != '\t' &&
         name.back() != '\t' && name.back() != '\r';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = orv::Text(data, size);
  static orv::SpectrumNameList list;

  int count = -1;
  std::string error;
  std::istringstream loop(text);
  const bool ok = orv::ReadLoopNameList(loop, size % 2 ? "base" : "", list, count, error);
  Check(0 <= count && count <= orv::kNameListCapacity && ok == error.empty());
  for (int k = 1; k <= count; ++k) Check(!list.names[k].empty());

  std::istringstream file(text);
  count = orv::ReadNameListFile(file, list);
  Check(0 <= count && count <= orv::kFileNameLimit);
  for (int k = 1; k <= count; ++k) Check(Trimmed(list.names[k]));

  std::istringstream carbon(text);
  for (const std::string& name : orv::ReadCarbonNameList(carbon)) Check(Trimmed(name));
  return 0;
}
