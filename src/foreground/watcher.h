// The foreground mode: a report line on every foreground switch and every 2000 ms tick, written
// only when it differs from the last one.
#pragma once

#include <string>

// The last line handed to standard output; empty until the first report.
extern std::string LastReportLine;

// Runs until standard input ends, a flush of standard output fails or message retrieval
// fails. Always returns 0.
int RunForeground();

// Samples, compares with LastReportLine, and writes and flushes the line when it changed.
void EmitForegroundReport();
