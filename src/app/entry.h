// Process entry: start-up, the command line and the exit code.
#pragma once

// Exit codes the parent sees.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitCaptureFailed = 2;

// Prepares the process, dispatches on argv[1] and returns the mode's exit code.
int TessikMain(int argc, wchar_t** argv);
