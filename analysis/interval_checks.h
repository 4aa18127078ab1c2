// Checks a marked interval must pass before it is fitted, and the bookkeeping after a fit, shared by
// the spectrum fit, the interval fit and the fit loop.
#pragma once

#include "analysis/marking.h"
#include "core/port.h"

namespace orv {

struct Workspace;

// The interval of the marking as messages name it: "start end".
std::string IntervalName(const MarkInterval& m);

// False, with a message naming the interval, when the interval leaves the spectrum a1..a2 (a fit
// would read counts that are not there, or past the arrays) or has too few channels for the
// parameters of its peaks; a warning when it holds more peaks than one fit takes.
bool CheckIntervalForFit(const Workspace& ws, const MarkInterval& m, UiPort& port);

// False, with a message naming the first interval that does, when an interval of the marking lies
// outside the spectrum arrays.
bool CheckMarkingBounds(const Marking& marking, UiPort& port);

// After a successful fit of ws.fit: the background degree the summary reports is the highest one
// the fits of the result table used.
void NoteBackgroundDegree(Workspace& ws);

}  // namespace orv
