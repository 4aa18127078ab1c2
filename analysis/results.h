// The result table: one row per fitted peak, filled by the fits and read by the listings, the saved
// summary and the calibration entry. Energies and intensities are not stored; they are derived from
// the channel and area columns whenever a row is shown, so a later calibration applies to old rows.
#pragma once

#include <algorithm>
#include <array>

#include "core/state.h"

namespace orv {

struct ResultRow {
  double channel = 0;       // fitted position
  double channelError = 0;  // standard error of the position
  double area = 0;          // |amplitude * width|
  double areaError = 0;
  double width = 0;  // full width at half maximum, channels
  double widthError = 0;
  double criterion = 0;   // (T - B) / sqrt(|B| + |T| + 1); above 3 the peak is significant
  double background = 0;  // counts under the peak
};

// Rows 1..resultCapacity; the number in use (resultCount) and the unsaved flag live in AnalysisState.
struct ResultTable {
  static constexpr int resultCapacity = kMaxResults;
  std::array<ResultRow, kMaxResults + 1> rows{};  // element 0 unused
  // The row preceding peak 1 of the current marking, so a new marking appends after older rows.
  int resultBase = 0;

  // Rows beyond the capacity land in the last row, as the fits store them.
  ResultRow& operator[](int row) { return rows[std::clamp(row, 1, resultCapacity)]; }
  const ResultRow& operator[](int row) const { return rows[std::clamp(row, 1, resultCapacity)]; }
};

}  // namespace orv
