#include "ClientTestSupport.h"
#include "client/exception.h"
#include "client/globals.h"
#include "client/log.h"
#include "platform/localtime.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "FileTestUtils.h"

using clienttest::fixedClock;
using testsupport::readFile;

TEST(Log, LinesCarryTheStampAndSurviveWithoutClose) {
    const char* name = "log_lines.log";
    {
        std::ofstream old(name);
        old << "left over from the last session\n";
    }
    Log log;
    log.setClock(fixedClock);
    log.write("before open is dropped");
    ASSERT_TRUE(log.open(name));
    log.write("first");
    log.write(nullptr);
    log.writeWide(L"wide \u00e9t\u00e9 text");
    // Flushed at once: the lines are there while the log is still open.
    EXPECT_EQ(readFile(name),
              "03.02.2007 09:05:00: first\n"
              "03.02.2007 09:05:00: wide ?t? text\n");
    EXPECT_TRUE(log.close());
    log.write("after close is dropped");
    EXPECT_EQ(readFile(name).find("dropped"), std::string::npos);
}

TEST(Log, UnopenableFileStillGivesAStreamThatWritesNowhere) {
    Log log;
    EXPECT_TRUE(log.open("no-such-dir/x/y.log"));
    log.write("goes nowhere");
    EXPECT_TRUE(log.close());
}

TEST(Exception, TextsAndLogLine) {
    const char* name = "exception.log";
    Log log;
    log.setClock(fixedClock);
    ASSERT_TRUE(log.open(name));
    globals.log = &log;
    const Exception e("x", 7, "m");
    const Exception copy(e);
    copy.log();
    globals.log = nullptr;
    e.log();  // no log: dropped
    log.close();
    EXPECT_EQ(readFile(name), "03.02.2007 09:05:00: EXCEPTION in x: line 7 - m\n");

    testing::internal::CaptureStderr();
    copy.showMessageBox();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Exception: Critical error!\nx: line 7\nm\n");

    // Over-long texts are cut to the boxes' buffers, never overrun.
    const Exception longOne("f", 1, std::string(5000, 'a').c_str());
    testing::internal::CaptureStderr();
    longOne.showMessageBox();
    EXPECT_EQ(testing::internal::GetCapturedStderr().size(), std::string("Exception: \n").size() + 255);
}

TEST(Exception, SourceNameIsRepositoryRelativeWithoutExtension) {
    EXPECT_EQ(exceptionSourceName("src/client/hud.cpp"), "src/client/hud");
    EXPECT_EQ(exceptionSourceName("/home/me/work/src/client/resourcehandler.cpp"),
              "src/client/resourcehandler");
    EXPECT_EQ(exceptionSourceName("x"), "x");
    try {
        THROW_EXCEPTION("boom");
    } catch (const Exception& e) {
        EXPECT_EQ(e.file, "tests/client/test_log");
        EXPECT_EQ(e.message, "boom");
        EXPECT_GT(e.line, 0);
    }
}
