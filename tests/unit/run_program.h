// Runs the program's entry with a command line, as the parent would start it.
#pragma once

#include <string>
#include <vector>

#include "app/entry.h"

inline int RunProgram(std::vector<std::wstring> args) {
  args.insert(args.begin(), L"C:\\tessik\\tessik-helper.exe");
  std::vector<wchar_t*> argv;
  for (std::wstring& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return TessikMain(static_cast<int>(args.size()), argv.data());
}
