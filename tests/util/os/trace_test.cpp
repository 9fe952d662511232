// The trace: lines with time stamps to the trace file and its place on
// Linux, hexadecimal text, the headless trace window and its 32767-character
// cap, message boxes, and whole lines from several threads.
#include "util/os/trace.h"

#include "platform/headless/headless_window.h"
#include "util/os/message_box.h"
#include "util/os/zizdata.h"
#include "tests/util/bos_test_support.h"

#include <thread>

namespace {

class TraceTest : public BosTest {
 protected:
  void SetUp() override {
    BosTest::SetUp();
    environment_.set("XDG_CONFIG_HOME", path("config"));
  }
  static std::string windowText(const KvTrace& trace) {
    std::string text(kvGetWindowTextLength(trace.getEditControl()) + 1, '\0');
    text.resize(kvGetWindowText(trace.getEditControl(), kvU(&text[0]), uint32_t(text.size())));
    return text;
  }

  EnvironmentGuard environment_;
};

TEST_F(TraceTest, LinesGoToTheFileWithTimeStamps) {
  KvTrace trace;
  EXPECT_EQ(trace.getFlags(), uint32_t(KvTrace::flagLineStart | KvTrace::flagFlushLines));
  writeFile(path("trace.log"), "old contents that must go");
  ASSERT_EQ(trace.initialize(nullptr, 0, kvU(path("trace.log").c_str())), kvSuccess);
  EXPECT_TRUE(trace.getFlags() & KvTrace::flagInitialised);
  EXPECT_EQ(trace.getWindow(), nullptr);
  trace.setFlags(trace.getFlags() | KvTrace::flagTimeStamp);
  ASSERT_EQ(trace.writeLine(kvU("hello")), kvSuccess);
  ASSERT_EQ(trace.writeString(kvU("a")), kvSuccess);
  ASSERT_EQ(trace.writeString(KvSubString(kvU("bcd"), 2)), kvSuccess);
  ASSERT_EQ(trace.writeString(kvU("xyz"), 1), kvSuccess);
  ASSERT_EQ(trace.writeEol(), kvSuccess);
  trace.setFlags(trace.getFlags() & ~KvTrace::flagTimeStamp);
  ASSERT_EQ(trace.writeLine(kvU("plain")), kvSuccess);
  // Each line reaches the file when it ends: "hh:mm:ss.cc text".
  const std::string text = readFile(path("trace.log"));
  ASSERT_EQ(text.size(), 2 * 12 + std::string("hello\r\nabcx\r\nplain\r\n").size()) << text;
  EXPECT_EQ(text.substr(11, 8), " hello\r\n");
  EXPECT_EQ(text.substr(30), " abcx\r\nplain\r\n");
  for (size_t at : {size_t(0), size_t(19)}) {
    const std::string stamp = text.substr(at, 11);
    EXPECT_TRUE(stamp[2] == ':' && stamp[5] == ':' && stamp[8] == '.') << stamp;
    for (size_t i : {0, 1, 3, 4, 6, 7, 9, 10}) EXPECT_TRUE(stamp[i] >= '0' && stamp[i] <= '9') << stamp;
  }
  trace.resetTrace();
  EXPECT_FALSE(trace.getFlags() & KvTrace::flagInitialised);
  EXPECT_EQ(trace.getFile(), 0);
  EXPECT_TRUE(errors().empty());
}

TEST_F(TraceTest, TheTraceFileGoesWhereItsNameSays) {
  ASSERT_EQ(mkdir(path("work").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(path("work/logs").c_str(), 0755), 0);
  ASSERT_EQ(chdir(path("work").c_str()), 0);
  struct Case {
    std::string name;
    std::string file;
  } cases[] = {
      {"kv.trc", path("config/kestrane/kv.trc")},  // a bare name: the configuration directory, made
      {"logs/kv.trc", path("work/logs/kv.trc")},   // relative to the current directory
      {"logs\\win.trc", path("work/logs/win.trc")},
      {path("abs.trc"), path("abs.trc")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KvTrace trace;
    ASSERT_EQ(trace.initialize(nullptr, 0, kvU(c.name.c_str())), kvSuccess);
    EXPECT_EQ(std::string(kvC(trace.getFileName())), c.file);
    ASSERT_EQ(trace.writeLine(kvU("x")), kvSuccess);
    EXPECT_EQ(readFile(c.file), "x\r\n");
  }
  // No name: no file.
  KvTrace trace;
  ASSERT_EQ(trace.initialize(nullptr, 0, kvU("")), kvSuccess);
  EXPECT_EQ(trace.getFile(), 0);
  EXPECT_EQ(trace.writeLine(kvU("nowhere")), kvSuccess);
  // A file that cannot be made: the OS layer's message, the trace reset.
  EXPECT_EQ(trace.initialize(nullptr, 0, kvU("missing/dir/kv.trc")), kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{1501});
  EXPECT_FALSE(trace.getFlags() & KvTrace::flagInitialised);
}

TEST_F(TraceTest, HexadecimalText) {
  KvTrace trace;
  ASSERT_EQ(trace.initialize(nullptr, 0, kvU(path("t.log").c_str())), kvSuccess);
  const unsigned char bytes[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 0x9A, 0xBC, 0xFF};
  ASSERT_EQ(trace.writeHexString(bytes, 12), kvSuccess);
  ASSERT_EQ(trace.writeEol(), kvSuccess);
  trace.setFlags(trace.getFlags() | KvTrace::flagHex);
  ASSERT_EQ(trace.writeString(kvU("AB")), kvSuccess);
  ASSERT_EQ(trace.writeEol(), kvSuccess);
  EXPECT_EQ(readFile(path("t.log")), "\r\n00 01 02 03 04 05 06 07 08 9A \r\nBC FF \r\n\r\n41 42 \r\n");
  // A line longer than a string holds is refused and the trace goes on.
  std::string huge(70000, 'h');
  trace.setFlags(trace.getFlags() & ~KvTrace::flagHex);
  EXPECT_EQ(trace.writeString(kvU(huge.c_str())), kvFailure);
  EXPECT_EQ(trace.writeHexString(kvU(huge.c_str()), 30000), kvFailure);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{2716, 2716}));
  ASSERT_EQ(trace.writeLine(kvU("after")), kvSuccess);
  EXPECT_EQ(readFile(path("t.log")).substr(52), "after\r\n");
}

TEST_F(TraceTest, TheWindowIsAHeadlessFrameWithAnEditControl) {
  KvWindow* other = kvCreateWindow(kvWindowFrame, nullptr, 0, kvU("other"), nullptr);
  kvSetFocus(other);
  KvTrace trace;
  ASSERT_EQ(trace.initialize(nullptr, 1, nullptr), kvSuccess);
  ASSERT_NE(trace.getWindow(), nullptr);
  EXPECT_TRUE(trace.getFlags() & KvTrace::flagToWindow);
  unsigned char title[64];
  kvGetWindowText(trace.getWindow(), title, sizeof(title));
  EXPECT_STREQ(kvC(title), "K+V Trace Window");
  EXPECT_EQ(kvGetWindowKind(trace.getEditControl()), kvWindowEdit);
  EXPECT_EQ(kvGetParent(trace.getEditControl()), trace.getWindow());
  EXPECT_EQ(kvGetTextLimit(trace.getEditControl()), 32767u);
  EXPECT_EQ(kvGetFocus(), other);
  trace.setTopMost();
  trace.resetTopMost();

  ASSERT_EQ(trace.writeLine(kvU("first")), kvSuccess);
  ASSERT_EQ(trace.writeLine(kvU("second")), kvSuccess);
  EXPECT_EQ(windowText(trace), "first\r\nsecond\r\n");
  EXPECT_EQ(trace.getEditChars(), 15u);

  // Window output turned on later for a trace that writes only to a file.
  KvTrace later;
  ASSERT_EQ(later.initialize(nullptr, 0, kvU(path("later.log").c_str())), kvSuccess);
  ASSERT_EQ(later.writeLine(kvU("file only")), kvSuccess);
  ASSERT_EQ(later.setTraceToWindow(), kvSuccess);
  ASSERT_EQ(later.writeLine(kvU("both")), kvSuccess);
  EXPECT_EQ(windowText(later), "both\r\n");
  EXPECT_EQ(readFile(path("later.log")), "file only\r\nboth\r\n");

  KvWindow* window = trace.getWindow();
  trace.resetTrace();
  EXPECT_FALSE(kvIsWindow(window));
  EXPECT_EQ(trace.getWindow(), nullptr);
  kvDestroyWindow(other);
}

TEST_F(TraceTest, TheWindowDropsTenLinesAtATimeToStayWithinItsLimit) {
  KvTrace trace;
  ASSERT_EQ(trace.initialize(nullptr, 1, nullptr), kvSuccess);
  // Lines of 100 characters with their line end: 327 fit in 32767.
  uint32_t kept = 0;
  for (int i = 0; i < 400; ++i) {
    char text[128];
    std::snprintf(text, sizeof(text), "%05d%093d", i, 0);
    ASSERT_EQ(trace.writeLine(kvU(text)), kvSuccess);
    while ((kept + 1) * 100 > 32767) kept -= 10;
    ++kept;
    const std::string shown = windowText(trace);
    ASSERT_EQ(shown.size(), kept * 100) << i;
    ASSERT_EQ(trace.getEditChars(), shown.size());
    ASSERT_EQ(shown.substr(0, 5), [&] {
      char first[8];
      std::snprintf(first, sizeof(first), "%05d", int(i + 1 - kept));
      return std::string(first);
    }());
  }
  // A line longer than the window keeps its end.
  std::string longLine(40000, 'a');
  longLine.replace(longLine.size() - 3, 3, "END");
  ASSERT_EQ(trace.writeLine(kvU(longLine.c_str())), kvSuccess);
  const std::string shown = windowText(trace);
  EXPECT_EQ(shown.size(), 32767u);
  EXPECT_EQ(shown.substr(shown.size() - 5), "END\r\n");
}

TEST_F(TraceTest, MessageBoxesGoToTheTraceAndOnToStderr) {
  KvTrace trace;
  ASSERT_EQ(trace.initialize(nullptr, 0, kvU(path("boxes.log").c_str())), kvSuccess);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(kvMessageBox(nullptr, kvU("Disk is full"), kvU("Kestrane"), kvMbOk), kvIdOk);
  EXPECT_EQ(kvMessageBox(nullptr, kvU("Retry?"), nullptr, kvMbYesNo), 0);
  trace.resetTrace();
  EXPECT_EQ(kvMessageBox(nullptr, kvU("after reset"), nullptr, kvMbOk), kvIdOk);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Kestrane: Disk is full\nRetry?\nafter reset\n");
  EXPECT_EQ(readFile(path("boxes.log")), "Kestrane: Disk is full\r\nRetry?\r\n");
}

TEST_F(TraceTest, BoxesRaisedWhileABoxIsWrittenOnlyGoOn) {
  // With the lock diagnostics on, making a lock shows a box: the trace's
  // first line makes its lock inside the hook, and that box goes on to
  // stderr instead of waiting for the hook. A new pool of locks reads the
  // setting (the task's data goes with the old one, the thread's error list
  // included).
  mdsZizTaskInit();
  mdsZizTaskTerm();
  environment_.set("KV_SEMCONTROL", "65536");
  KvErrorKeeper::setErrorList(list_);
  KvTrace trace;
  ASSERT_EQ(trace.initialize(nullptr, 0, kvU(path("boxes.log").c_str())), kvSuccess);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(kvMessageBox(nullptr, kvU("first box"), kvU("Kestrane"), kvMbOk), kvIdOk);
  const std::string shown = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(shown.find("Ziz Semaphore Allocation Information"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Kestrane: first box\n"), std::string::npos) << shown;
  EXPECT_EQ(readFile(path("boxes.log")), "Kestrane: first box\r\n");

  trace.resetTrace();
  ::testing::internal::CaptureStderr();
  mdsZizTaskInit();
  mdsZizTaskTerm();
  environment_.restore();
  KvErrorKeeper::setErrorList(list_);
  ::testing::internal::GetCapturedStderr();
}

TEST_F(TraceTest, LinesFromSeveralThreadsStayWhole) {
  KvTrace trace;
  ASSERT_EQ(trace.initialize(nullptr, 1, kvU(path("threads.log").c_str())), kvSuccess);
  trace.setFlags(trace.getFlags() & ~KvTrace::flagFlushLines);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&trace, t] {
      const std::string line(50, char('a' + t));
      for (int i = 0; i < 200; ++i) EXPECT_EQ(trace.writeLine(kvU(line.c_str())), kvSuccess);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::string text = readFile(path("threads.log"));
  ASSERT_EQ(text.size(), 800u * 52);
  int counts[4] = {0, 0, 0, 0};
  for (size_t at = 0; at < text.size(); at += 52) {
    const char c = text[at];
    ASSERT_TRUE(c >= 'a' && c <= 'd');
    EXPECT_EQ(text.substr(at, 52), std::string(50, c) + "\r\n");
    ++counts[c - 'a'];
  }
  for (int count : counts) EXPECT_EQ(count, 200);
}

}  // namespace
