#include "report/result_log.h"

// Placeholder until the log writer lands: keeps the run's contract (prints
// nothing, changes nothing) and writes no file yet.
void WriteResultLog(ProbeResult, const TouchpadInfo &) {}
