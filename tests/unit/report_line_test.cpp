#include <string>

#include "foreground/report_line.h"
#include "sim_test.h"

namespace {

TEST(JsonEscape, EscapesQuoteBackslashAndControlBytesOnly) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  std::string expected;
  for (int b = 0; b < 256; ++b) {
    char six[8];
    if (b < 0x20) {
      std::snprintf(six, sizeof six, "\\u%04x", b);
      expected += six;
    } else if (b == '"' || b == '\\') {
      expected += '\\';
      expected += static_cast<char>(b);
    } else {
      expected += static_cast<char>(b);
    }
  }
  EXPECT_EQ(JsonEscape(all), expected);
  EXPECT_EQ(JsonEscape("a\nb"), "a\\u000ab");
  EXPECT_EQ(JsonEscape("\x1f"), "\\u001f");
  EXPECT_EQ(JsonEscape(std::string("\0", 1)), "\\u0000");
  EXPECT_EQ(JsonEscape("say \"hi\" \\o/"), "say \\\"hi\\\" \\\\o/");
  EXPECT_EQ(JsonEscape("fen\xC3\xAAtre\x7f"), "fen\xC3\xAAtre\x7f");
}

class ReportLineTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim::AddProcess(42, 1, L"C:\\Apps\\app.exe");
    window_ = &sim::AddWindow(100, 42, {10, 20, 810, 620});
    sim::Model().foreground = 100;
  }
  sim::Window* window_ = nullptr;
};

TEST_F(ReportLineTest, FullLineFromTheWindowRectangleWhenTheCompositorFails) {
  EXPECT_EQ(FormatForegroundReport(),
            R"({"pid":42,"x":10,"y":20,"w":800,"h":600,"fs":0,"exe":"app.exe"})");
}

TEST_F(ReportLineTest, CompositorBoundsWinOverTheWindowRectangle) {
  window_->compositorFails = false;
  window_->compositorBounds = {17, 20, 803, 613};
  EXPECT_EQ(FormatForegroundReport(),
            R"({"pid":42,"x":17,"y":20,"w":786,"h":593,"fs":0,"exe":"app.exe"})");
}

TEST_F(ReportLineTest, BoundsEdgeCases) {
  struct Case {
    const char* what;
    void (*setUp)(sim::Window&);
    const char* bounds;
  } cases[] = {
      {"minimized zeroes the bounds", [](sim::Window& w) { w.minimized = true; },
       R"("x":0,"y":0,"w":0,"h":0)"},
      {"minimized wins over compositor bounds",
       [](sim::Window& w) {
         w.minimized = true;
         w.compositorFails = false;
         w.compositorBounds = {1, 2, 3, 4};
       },
       R"("x":0,"y":0,"w":0,"h":0)"},
      {"partly off-screen gives negative edges", [](sim::Window& w) { w.rect = {-50, -8, 750, 592}; },
       R"("x":-50,"y":-8,"w":800,"h":600)"},
      {"both calls failing leave zeros", [](sim::Window& w) { w.windowRectFails = true; },
       R"("x":0,"y":0,"w":0,"h":0)"},
      {"a failing compositor's own writes stay when the rectangle fails too",
       [](sim::Window& w) {
         w.windowRectFails = true;
         w.compositorWritesBeforeFailing = true;
         w.compositorBounds = {5, 6, 7, 9};
       },
       R"("x":5,"y":6,"w":2,"h":3)"},
      {"extreme edges wrap in 32 bits",
       [](sim::Window& w) { w.rect = {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}; },
       R"("x":-2147483648,"y":-2147483648,"w":-1,"h":-1)"},
  };
  for (const Case& c : cases) {
    *window_ = sim::Window{};
    window_->handle = 100;
    window_->owner = 42;
    window_->rect = {10, 20, 810, 620};
    c.setUp(*window_);
    std::string line = FormatForegroundReport();
    EXPECT_NE(line.find(c.bounds), std::string::npos) << c.what << ": " << line;
    EXPECT_NE(line.find(R"("pid":42,)"), std::string::npos) << c.what;
  }
}

TEST_F(ReportLineTest, FullScreenOnlyForTheD3dStateOfASuccessfulQuery) {
  struct Case {
    std::int32_t status;
    std::int32_t state;
    const char* fs;
  } cases[] = {{0, 3, R"("fs":1)"}, {0, 2, R"("fs":0)"}, {0, 5, R"("fs":0)"},
               {static_cast<std::int32_t>(0x80004005u), 3, R"("fs":0)"}, {1, 3, R"("fs":1)"}};
  for (const Case& c : cases) {
    sim::Model().notificationStatus = c.status;
    sim::Model().notificationState = c.state;
    EXPECT_NE(FormatForegroundReport().find(c.fs), std::string::npos)
        << "status " << c.status << " state " << c.state;
  }
}

TEST_F(ReportLineTest, NoForegroundWindowGivesTheShortLine) {
  sim::Model().foreground = 0;
  EXPECT_EQ(FormatForegroundReport(), R"({"pid":0})");
}

TEST_F(ReportLineTest, UnknownOwnerKeepsTheFullLineWithPidZeroAndEmptyExe) {
  sim::Model().foreground = 999;  // destroyed while sampled: the window manager knows nothing
  EXPECT_EQ(FormatForegroundReport(), R"({"pid":0,"x":0,"y":0,"w":0,"h":0,"fs":0,"exe":""})");
}

TEST_F(ReportLineTest, UnqueryableProcessGivesAnEmptyExe) {
  sim::FindProcess(42)->openable = false;
  EXPECT_EQ(FormatForegroundReport(),
            R"({"pid":42,"x":10,"y":20,"w":800,"h":600,"fs":0,"exe":""})");
}

TEST_F(ReportLineTest, ExeIsEscapedUtf8) {
  sim::FindProcess(42)->imagePath = L"C:\\fen\x00EAtre \"q\".exe";
  EXPECT_NE(FormatForegroundReport().find("\"exe\":\"fen\xC3\xAAtre \\\"q\\\".exe\"}"),
            std::string::npos);
}

TEST_F(ReportLineTest, FrameHostWindowReportsTheHostedApplication) {
  sim::AddProcess(50, 1, L"C:\\Windows\\System32\\ApplicationFrameHost.exe");
  sim::AddProcess(60, 1, L"C:\\Store\\Calculator.exe");
  sim::AddWindow(500, 50, {0, 0, 300, 400}).children = {501};
  sim::AddWindow(501, 60, {});
  sim::Model().foreground = 500;
  EXPECT_EQ(FormatForegroundReport(),
            R"({"pid":60,"x":0,"y":0,"w":300,"h":400,"fs":0,"exe":"Calculator.exe"})");
}

TEST(FormatReportLine, LongestPrefixFits) {
  ForegroundSample sample;
  sample.pid = UINT32_MAX;
  sample.x = sample.y = sample.w = sample.h = INT32_MIN;
  sample.fs = 1;
  EXPECT_EQ(FormatReportLine(sample),
            R"({"pid":4294967295,"x":-2147483648,"y":-2147483648,"w":-2147483648,)"
            R"("h":-2147483648,"fs":1,"exe":""})");
}

}  // namespace
