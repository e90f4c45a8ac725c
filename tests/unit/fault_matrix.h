// The fault matrix: every platform operation whose result the program checks, made to fail in
// the simulated backend, with the outcome the program guarantees for that failure and the
// handles and engine references it leaves behind (fault_matrix_rows.cpp; docs/reliability.md
// shows the same table), and the operations whose result the program does not act on, with
// the reason.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>

namespace fault_matrix {

constexpr std::uint64_t kParentEndsMs = 1000;  // the parent closes standard input

enum class Mode { Foreground, Capture };

enum class Outcome {
  Fallback,  // the mode runs on with the documented fallback value, until the parent ends it
  Error,     // the capture status is "error <word>", exit code 2
  Stop,      // the mode ends by itself before the parent closes stdin, exit code 0
  Ignored,   // the mode runs on unchanged, until the parent (or its output) ends it
};

struct Fault {
  const char* operation;  // as declared; an overload adds its first parameter's type
  const char* failure;    // what the simulated backend is made to do
  Mode mode;
  void (*inject)();
  Outcome outcome;
  const char* out;     // standard output as the parent reads it (see Expand)
  const char* err;     // standard error
  int handlesLeft;     // opened minus closed: what the path leaves to process exit
  int referencesLeft;  // engine references not released
  void (*check)() = nullptr;
};

// The rows, in the order they run.
std::span<const Fault> Faults();
// Operations whose result the program does not act on, and why.
std::span<const std::pair<const char*, const char*>> NotChecked();
// A row's expected standard output as bytes: "*" in it is one mono sample 3.
std::string Expand(const char* out);

}  // namespace fault_matrix
