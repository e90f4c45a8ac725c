// UTF-16 names as the UTF-8 text the parent reads.
#pragma once

#include <string>

// Unpaired surrogates become the replacement character; a failed conversion gives "".
std::string WideToUtf8(const std::wstring& text);
