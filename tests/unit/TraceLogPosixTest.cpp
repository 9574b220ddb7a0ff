// Properties of the log that only exist on POSIX systems.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "LogFixture.h"

namespace nelko::test {
namespace {

using TraceLogPosixTest = LogFixture;

TEST_F(TraceLogPosixTest, PathComesFromTmpdirOrTmp) {
    SetLogTestSeam({});
    const char* saved = std::getenv("TMPDIR");
    const std::string savedValue = saved != nullptr ? saved : "";
    ::setenv("TMPDIR", "/some/dir", 1);
    EXPECT_EQ(GetLogFilePath(), "/some/dir/NelkoClientDriver.log");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(GetLogFilePath(), "/tmp/NelkoClientDriver.log");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(GetLogFilePath(), "/tmp/NelkoClientDriver.log");
    if (saved != nullptr) ::setenv("TMPDIR", savedValue.c_str(), 1);
}

TEST_F(TraceLogPosixTest, NeverFollowsAPlantedSymlink) {
    const std::string victim = dir.File("victim");
    WriteFile(victim, "precious");
    std::filesystem::create_symlink(victim, LogPath());
    Trace("first entry truncates");
    Trace("later entry appends");
    EXPECT_EQ(ReadFile(victim), "precious");
}

TEST_F(TraceLogPosixTest, CreatesTheLogReadableByItsOwnerOnly) {
    Trace("x");
    struct stat info {};
    ASSERT_EQ(::stat(LogPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace nelko::test
