// padprobe.txt beside the executable: the record of the run's outcome.
#pragma once

#include "probe/descriptor.h"

// Prints nothing and never changes the run's outcome. A reader finds a whole
// record or, when one cannot be written, no new file.
void WriteResultLog(ProbeResult result, const TouchpadInfo &info);

// The executable's drive and folder with padprobe.txt, in storage of its
// own that the next call reuses; empty when the folder cannot be known for
// sure or the whole path would not fit.
const wchar_t *GetLogFilePath();
