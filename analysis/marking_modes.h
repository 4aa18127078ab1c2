// Marking: dividing the analysed interval into fitting intervals that each hold one peak or a
// multiplet, in four modes (automatic search, clicked peaks, search plus preset energies, a ready data
// set), and the single-peak check that adds one peak and its interval.
#pragma once

#include <array>
#include <iosfwd>
#include <string>

#include "core/port.h"
#include "core/state.h"

namespace orv {

struct Workspace;

inline constexpr int kMaxPresetPoints = 299;

// Preset points: energies as typed (channels after conversion), or the clicked channels of manual
// marking; plus the state of the click-driven modes.
struct MarkingInput {
  std::array<double, kMaxPresetPoints + 1> points{};  // 1-based
  int count = 0;
  bool widthConsistent = true;  // the last search found widths that agree with the width law
  bool manualActive = false;    // "Mark the Peaks " waits for clicks
  bool checkActive = false;     // "Check for Peak and Add" waits for its click
  std::string markingFile;      // last marking data set file
  std::string energyFile;       // last energy list file
};

// Groups the sorted peaks of the marking into intervals within first..last: each peak gets a stretch
// of kWidth widths plus adInterv channels on each side, inner bounds move to the nearby minimum of the
// spectrum, overlapping stretches join, and intervals longer than maxInterval are split at their
// widest gap.
void FormIntervals(Workspace& ws, int first, int last);

// The control dialog "Find the Peaks"; false on Cancel. Refused values keep their old values.
bool SetPeakSearchControls(Workspace& ws, UiPort& port);

// Mode 2: asks for the energy list (screen or file) and converts it to channels into ws.markingInput.
bool EnterMarkingEnergies(Workspace& ws, UiPort& port);
// An energy list file: free-field numbers into in.points[1..], at most kMaxPresetPoints; the count.
int ReadEnergyList(std::istream& file, MarkingInput& in);
// The first `count` preset energies to channels (as they are without an energy calibration), sorted,
// those not above 0 dropped.
void SetPresetEnergies(Workspace& ws, UiPort& port, int count);
// Adds the preset channels inside first..last to the found peaks, merges close pairs, forms the
// intervals and keeps only those that hold a preset channel.
void MergePresetPeaks(Workspace& ws, int first, int last);

// The marking command of the current ws.state.markingMode; false when cancelled or refused.
bool MarkSpectrum(Workspace& ws, UiPort& port);

// Manual marking by clicks. Begin asks "Reset the counter?" when peaks exist; each click moves to the
// highest count within min(3, shown/1024) channels and is appended; Finish ends the clicking.
// `shownChannels` is the number of channels on the graph.
void BeginManualMarking(Workspace& ws, UiPort& port);
void ManualMarkingClick(Workspace& ws, UiPort& port, int channel, int shownChannels);
void FinishManualMarking(Workspace& ws);
// Cancel while clicking: forgets the last clicked peak and shows the new last one.
void UndoManualMarkingClick(Workspace& ws, UiPort& port);

// "Check for Peak and Add" after the click at `channel`; firstShown..lastShown is the graph's range.
// True when a row, a peak and an interval were added.
bool CheckPeakAndAdd(Workspace& ws, UiPort& port, int channel, int firstShown, int lastShown);

}  // namespace orv
