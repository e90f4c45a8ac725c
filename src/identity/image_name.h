// Executable names of processes and how the program compares them.
#pragma once

#include <string>

#include "platform/desktop_services.h"

// Base file name of the process's image ("App.exe"), or empty when the process cannot be
// opened or queried.
std::wstring ProcessImageName(platform::ProcessId pid);

// Equal when every UTF-16 unit matches with ASCII letters folded; nothing else is folded and
// no locale is consulted, so the answer is the same on every machine.
bool ImageNamesEqual(const std::wstring& a, const std::wstring& b);
