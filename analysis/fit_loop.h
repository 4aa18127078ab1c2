// The fit loop: one marking and one set of settings applied to a series of spectrum files. Every
// spectrum is read, all marked intervals are fitted in batch mode, and its peaks go to the loop table
// (not to the result table).
#pragma once

#include <string>
#include <vector>

#include "core/port.h"

namespace orv {

struct Workspace;
class TSpectrum;

inline constexpr const char* kLoopTableHeader =
    "   Channel  Energy     Area     Intensity    Width   Norm.int. Chi2/chi+";

struct FitLoopSummary {
  int processed = 0;  // names of the list, the failed ones included
  // Names whose file was missing, unreadable or held no counts, or whose fit had to be abandoned.
  int failed = 0;
  int lastRead = 0;          // 1-based list index of the last spectrum read; 0 when none was
  bool tableWritten = true;  // every line reached the table
};

// Fits the spectra `names` (read with the snapshot's file type and input options) in list order.
// Every spectrum starts from a copy of `ws` taken when the call starts, with empty spectrum arrays, so
// nothing one spectrum leaves behind (softened robust weights, counters, channels above a shorter
// spectrum) reaches another; `ws` itself is not changed. Per spectrum the table receives the spectrum
// line and two lines per fitted peak; messages and status lines go to `port` and the engine's notes to
// `notes` (none: dropped). `workers` threads share the list through one atomic index, each with its
// own workspace; everything a spectrum produces is buffered and handed over in list order on the
// calling thread, which alone talks to `port`, `table` and `notes`, so the table does not depend on
// the number of workers. `lastSpectrum`, when given, receives the last spectrum read in list order.
FitLoopSummary RunFitLoop(const Workspace& ws, const std::vector<std::string>& names, int workers,
                          LineSink& table, UiPort& port, LineSink* notes = nullptr,
                          TSpectrum* lastSpectrum = nullptr);

struct FitLoopOutcome {
  bool ran = false;       // the checks passed and the loop table was created
  std::string tablePath;  // where the loop table is (also when it could not be created)
  FitLoopSummary summary;
};

// The menu command "Fit Loop" over the spectrum name list with `workers` threads: checks (status
// line "Error, no spectrum file names", "Error, no marking data" or "Error, this file type not
// allowed"), creates the loop table `loopTableFile` anew in the start folder (a name with a folder of
// its own is taken as it stands) with its header, runs the loop and reports in the text window
// "FIT  LOOP". Afterwards the spectrum is the last one read; the result table, resultCount and
// resultsUnsaved are not touched.
FitLoopOutcome FitLoopCommand(Workspace& ws, UiPort& port, int workers = 1);

}  // namespace orv
