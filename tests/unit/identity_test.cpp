#include <string>

#include "identity/image_name.h"
#include "identity/utf8.h"
#include "identity/window_owner.h"
#include "sim_test.h"

namespace {

TEST(ImageNamesEqual, FoldsOnlyAsciiLetters) {
  struct Case {
    const wchar_t* a;
    const wchar_t* b;
    bool equal;
  } cases[] = {
      {L"App.exe", L"APP.EXE", true},
      {L"ApplicationFrameHost.exe", L"applicationframehost.exe", true},
      {L"app.exe", L"app.exe ", false},
      {L"app.exe", L"app.ex", false},
      {L"", L"", true},
      {L"\x00C9t\x00E9.exe", L"\x00E9T\x00C9.exe", false},  // É/é are not folded
      {L"[.exe", L"{.exe", false},  // 0x5B and 0x7B differ by the case bit but are no letters
      {L"@", L"`", false},
  };
  for (const Case& c : cases) EXPECT_EQ(ImageNamesEqual(c.a, c.b), c.equal) << '"' << c.a << '"';
}

class ProcessImageNameTest : public SimTest {};

TEST_F(ProcessImageNameTest, TakesEverythingAfterTheLastBackslash) {
  struct Case {
    const wchar_t* path;
    const wchar_t* name;
  } cases[] = {
      {L"C:\\Program Files\\App\\app.exe", L"app.exe"},
      {L"app.exe", L"app.exe"},
      {L"C:\\dir/with/slash.exe", L"dir/with/slash.exe"},
      {L"C:\\trailing\\", L""},
  };
  for (const Case& c : cases) {
    sim::Reset();
    sim::AddProcess(10, 0, c.path);
    EXPECT_EQ(ProcessImageName(10), c.name) << '"' << c.path << '"';
    EXPECT_EQ(sim::Recorded().handlesOpened, sim::Recorded().handlesClosed);
  }
}

TEST_F(ProcessImageNameTest, UnreachableProcessesGiveAnEmptyName) {
  sim::AddProcess(10, 0, L"C:\\a.exe").openable = false;
  sim::AddProcess(11, 0, L"C:\\b.exe").pathQueryFails = true;
  sim::AddProcess(12, 0, L"C:\\" + std::wstring(517, L'x'));  // 520 units: no room for the end
  sim::AddProcess(13, 0, L"C:\\" + std::wstring(516, L'x'));  // 519 units: fits
  EXPECT_EQ(ProcessImageName(10), L"");
  EXPECT_EQ(ProcessImageName(11), L"");
  EXPECT_EQ(ProcessImageName(12), L"");
  EXPECT_EQ(ProcessImageName(13), std::wstring(516, L'x'));
  EXPECT_EQ(ProcessImageName(0), L"");
  EXPECT_EQ(ProcessImageName(99), L"");
  EXPECT_EQ(sim::Recorded().handlesOpened, sim::Recorded().handlesClosed);
}

class WindowProcessIdTest : public SimTest {
 protected:
  // A frame host (pid 50) whose window 500 holds the given children.
  void FrameHost(const wchar_t* name, std::vector<platform::WindowHandle> children) {
    sim::AddProcess(50, 1, std::wstring(L"C:\\Windows\\System32\\") + name);
    sim::AddWindow(500, 50, {}).children = std::move(children);
  }
};

TEST_F(WindowProcessIdTest, OrdinaryWindowsReportTheirOwner) {
  sim::AddProcess(7, 1, L"C:\\app.exe");
  sim::AddWindow(70, 7, {});
  sim::AddWindow(71, 0, {});
  EXPECT_EQ(WindowProcessId(70), 7u);
  EXPECT_EQ(WindowProcessId(71), 0u);
  EXPECT_EQ(WindowProcessId(12345), 0u);
  EXPECT_EQ(sim::Recorded().childEnumerationVisits, 0);
}

TEST_F(WindowProcessIdTest, FrameHostReportsTheFirstHostedProcessInEnumerationOrder) {
  for (const wchar_t* name :
       {L"ApplicationFrameHost.exe", L"APPLICATIONFRAMEHOST.EXE", L"applicationframehost.exe"}) {
    ResetAll();
    FrameHost(name, {502, 501, 505});
    sim::AddWindow(501, 0, {}).children = {503};  // no owner; its child is visited next
    sim::AddWindow(502, 50, {});                  // the frame host itself: skipped
    sim::AddWindow(503, 60, {});                  // first other owner, found depth-first
    sim::AddWindow(505, 61, {});
    EXPECT_EQ(WindowProcessId(500), 60u) << name;
    EXPECT_EQ(sim::Recorded().childEnumerationVisits, 3) << "stops at the first other owner";
  }
}

TEST_F(WindowProcessIdTest, FrameHostWithoutHostedProcessReportsItself) {
  FrameHost(L"ApplicationFrameHost.exe", {});
  EXPECT_EQ(WindowProcessId(500), 50u);
  ResetAll();
  FrameHost(L"ApplicationFrameHost.exe", {501, 502});
  sim::AddWindow(501, 0, {});
  sim::AddWindow(502, 50, {});
  EXPECT_EQ(WindowProcessId(500), 50u);
}

TEST_F(WindowProcessIdTest, UnreadableFrameHostNameKeepsTheOwner) {
  FrameHost(L"ApplicationFrameHost.exe", {501});
  sim::AddWindow(501, 60, {});
  sim::FindProcess(50)->openable = false;
  EXPECT_EQ(WindowProcessId(500), 50u);
  sim::FindProcess(50)->openable = true;
  sim::FindProcess(50)->pathQueryFails = true;
  EXPECT_EQ(WindowProcessId(500), 50u);
  EXPECT_EQ(sim::Recorded().childEnumerationVisits, 0);
}

class WideToUtf8Test : public SimTest {};

TEST_F(WideToUtf8Test, ConvertsUtf16ToUtf8) {
  struct Case {
    std::wstring text;
    std::string utf8;
  } cases[] = {
      {L"", ""},
      {L"app.exe", "app.exe"},
      {L"fen\x00EAtre.exe", "fen\xC3\xAAtre.exe"},
      {L"\x65E5\x672C.exe", "\xE6\x97\xA5\xE6\x9C\xAC.exe"},
      {std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}, "\xF0\x9F\x98\x80"},
      {std::wstring{L'a', wchar_t(0xD800), L'b'}, "a\xEF\xBF\xBD" "b"},  // unpaired surrogate
      {std::wstring{L'a', L'\0', L'b'}, std::string("a\0b", 3)},
  };
  for (const Case& c : cases) EXPECT_EQ(WideToUtf8(c.text), c.utf8);
}

TEST_F(WideToUtf8Test, FailedSizeQueryGivesEmptyText) {
  sim::Model().utf8SizeQueryFails = true;
  EXPECT_EQ(WideToUtf8(L"app.exe"), "");
}

}  // namespace
