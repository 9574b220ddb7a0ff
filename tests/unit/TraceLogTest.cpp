#include <gtest/gtest.h>

#include <filesystem>

#include "LogFixture.h"

namespace nelko::test {
namespace {

using TraceLogTest = LogFixture;

TEST_F(TraceLogTest, WritesTimeStampedLinesByteForByte) {
    using namespace std::string_literals;
    Trace("ProcessAttach");
    Trace("");
    Trace("a\0b|\"c\"\nsecond line"s);
    EXPECT_EQ(LogText(), InFileLineEnds("08.03.2026 - 07:05:09  ProcessAttach\n"
                                        "08.03.2026 - 07:05:09  \n"
                                        "08.03.2026 - 07:05:09  a\0b|\"c\"\nsecond line\n"s));
}

TEST_F(TraceLogTest, PadsEveryFieldAndKeepsWiderValues) {
    std::string line;
    FormatLogLine({987, 12, 31, 23, 59, 58}, "x", line);
    EXPECT_EQ(line, "31.12.0987 - 23:59:58  x\n");
    FormatLogLine({12345, 1, 2, 3, 4, 5}, "x", line);
    EXPECT_EQ(line, "02.01.12345 - 03:04:05  x\n");
}

TEST_F(TraceLogTest, FirstEntryTruncatesLaterEntriesAppend) {
    WriteFile(LogPath(), "left over from an earlier process\n");
    Trace("first");
    Trace("second");
    EXPECT_EQ(Messages(), (std::vector<std::string>{"first", "second"}));

    // A deleted log is created again and appended to, never emptied a second time.
    RemoveFile(LogPath());
    Trace("third");
    Trace("fourth");
    EXPECT_EQ(Messages(), (std::vector<std::string>{"third", "fourth"}));

    // The next process starts over.
    ResetLogFirstOpenForTesting();
    Trace("new process");
    EXPECT_EQ(Messages(), (std::vector<std::string>{"new process"}));
}

TEST_F(TraceLogTest, FailedFirstOpenIsSilentAndDoesNotTruncateLater) {
    WriteFile(LogPath(), "earlier\n");
    SetLogTestSeam({dir.File("missing-folder"), [] { return platform::LocalTime{2026, 3, 8, 7, 5, 9}; }});
    Trace("dropped");
    SetLogTestSeam({dir.Path(), [] { return platform::LocalTime{2026, 3, 8, 7, 5, 9}; }});
    Trace("kept");
    EXPECT_EQ(Messages(), (std::vector<std::string>{"earlier", "kept"}));
}

// Each entry goes whole into one file; only the newest two files are kept.
TEST_F(TraceLogTest, RotatesPastTheSizeLimitKeepingEveryEntryWhole) {
    const std::string rotated = LogPath() + ".1";
    SetLogTestSeam({dir.Path(), [] { return platform::LocalTime{2026, 3, 8, 7, 5, 9}; }, 100});
    const auto line = [](char n) {
        return InFileLineEnds("08.03.2026 - 07:05:09  entry " + std::string(30, n) + "\n");
    };
    for (char n = '1'; n <= '5'; ++n) Trace("entry " + std::string(30, n));
    EXPECT_EQ(ReadFile(rotated), line('3') + line('4'));
    EXPECT_EQ(LogText(), line('5'));

    // Where the log cannot be renamed, it still stops growing, at twice the limit.
    RemoveFile(rotated);
    std::filesystem::create_directories(rotated + "/blocked");
    for (char n = '6'; n <= '9'; ++n) Trace("entry " + std::string(30, n));
    EXPECT_EQ(LogText(), line('5') + line('6') + line('7') + line('8'));
}

TEST_F(TraceLogTest, RawLinesCarryNoTimeStamp) {
    LogStream stream = OpenLogFile();
    WriteLogRawLine(stream, "Virtual channel init successful");
    CloseLogFile(stream);
    Trace("after");
    EXPECT_EQ(LogText(), InFileLineEnds("Virtual channel init successful\n08.03.2026 - 07:05:09  after\n"));

    // In one write, so that no other process's entry can land between text and line end.
    std::vector<std::string> writes;
    SetLogTestSeam(
        {dir.Path(), nullptr, 0, [&writes](const char* data, std::size_t size) { writes.emplace_back(data, size); }});
    LogStream sunk = OpenLogFile();
    WriteLogRawLine(sunk, "Virtual channel init successful");
    EXPECT_EQ(writes, std::vector<std::string>{"Virtual channel init successful\n"});
}

}  // namespace
}  // namespace nelko::test
