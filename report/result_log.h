// padprobe.txt beside the executable: the record of the run's outcome.
#pragma once

#include "probe/descriptor.h"

// Prints nothing and never changes the run's outcome.
void WriteResultLog(ProbeResult result, const TouchpadInfo &info);
