// The framed seven-line report that ends every run's console output.
#pragma once

#include "probe/descriptor.h"

void PrintProbeReport(ProbeResult result, const TouchpadInfo &info);
