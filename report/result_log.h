// padprobe.txt beside the executable: the record of the run's outcome.
#pragma once

#include <string>

#include "probe/descriptor.h"

// Prints nothing and never changes the run's outcome. A reader finds a whole
// record or, when one cannot be written, no new file.
void WriteResultLog(ProbeResult result, const TouchpadInfo &info);

// The executable's drive and folder with padprobe.txt; empty when the
// folder cannot be known for sure.
std::wstring GetLogFilePath();
