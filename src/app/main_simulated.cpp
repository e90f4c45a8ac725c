// The native build's program: the command line over the simulated desktop, with no windows or
// processes in it. It exists so the dispatch can be driven from outside the unit tests.
#include <cstdlib>
#include <string>
#include <vector>

#include "app/entry.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> wide;
  for (int i = 0; i < argc; ++i) {
    std::wstring arg;
    for (const char* c = argv[i]; *c != '\0'; ++c) arg.push_back(static_cast<unsigned char>(*c));
    wide.push_back(arg);
  }
  std::vector<wchar_t*> pointers;
  for (auto& arg : wide) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  return TessikMain(argc, pointers.data());
}
