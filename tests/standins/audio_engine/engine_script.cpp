#include "engine_script.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace engine {

namespace {

Script TheScriptValue;
standin::Log TheLogValue;

std::vector<std::uint64_t> NumberList(const std::string& text) {
  std::vector<std::uint64_t> numbers;
  const char* cursor = text.c_str();
  while (*cursor != '\0') {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(cursor, &end, 10);
    if (end == cursor) {
      ++cursor;
      continue;
    }
    numbers.push_back(value);
    cursor = end;
  }
  return numbers;
}

struct PointName {
  const char* name;
  FailurePoint point;
};

constexpr PointName kPoints[] = {
    {"request", FailurePoint::Request},        {"never", FailurePoint::Never},
    {"status", FailurePoint::Status},          {"no-interface", FailurePoint::NoInterface},
    {"result", FailurePoint::Result},          {"no-client", FailurePoint::NoClient},
    {"initialize", FailurePoint::Initialize},  {"set-event", FailurePoint::SetEvent},
    {"get-service", FailurePoint::GetService}, {"start", FailurePoint::Start},
    {"get-buffer", FailurePoint::GetBuffer},
};

void ParseFailure(const std::string& value, Script& script) {
  const std::size_t space = value.find(' ');
  const std::string name = value.substr(0, space);
  for (const PointName& entry : kPoints)
    if (name == entry.name) script.failure = entry.point;
  if (space != std::string::npos)
    script.failingFetch = std::strtoull(value.c_str() + space, nullptr, 10);
}

}  // namespace

void LoadScript() {
  const std::string text = standin::ReadScript(L"TESSIK_ENGINE_SCRIPT");
  Script script;
  auto value = [&](const char* key) { return standin::ScriptValue(text, key); };
  auto number = [&](const char* key, auto fallback) {
    const std::string found = value(key);
    return found.empty()
               ? fallback
               : static_cast<decltype(fallback)>(std::strtoll(found.c_str(), nullptr, 10));
  };
  ParseFailure(value("fail"), script);
  script.completionDelayMs = number("completion-delay-ms", script.completionDelayMs);
  script.packetFrames = number("packet-frames", script.packetFrames);
  script.periodMs = number("period-ms", script.periodMs);
  script.packets = number("packets", script.packets);
  script.silent = NumberList(value("silent"));
  script.nullData = NumberList(value("null-data"));
  script.bufferPackets = number("buffer-packets", script.bufferPackets);
  script.logCalls = value("calls") != "off";
  const std::string tone = value("tone");
  if (!tone.empty()) {
    char* end = nullptr;
    script.toneHz = std::strtod(tone.c_str(), &end);
    if (end != nullptr && *end == ' ') script.toneAmplitude = std::atoi(end + 1);
  }
  TheScriptValue = script;
  if (!TheLogValue.IsOpen()) TheLogValue.Open(value("log"));
}

const Script& TheScript() { return TheScriptValue; }

standin::Log& TheLog() { return TheLogValue; }

std::int64_t NowMicroseconds() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  const std::int64_t ticks =
      (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (ticks - 116444736000000000LL) / 10;
}

std::string GuidText(const GUID& guid) {
  char text[64];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

std::string StatusText(HRESULT status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
  return text;
}

}  // namespace engine
