// Properties of the log that only exist on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    struct stat info = {};
    ASSERT_EQ(::stat(LogPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Another user of a shared /tmp may have put anything under the log's name first. Each
// entry, the emptying first one included, is then dropped: it must not block, land in
// their file, or empty the file a hard link leads to.
TEST_F(TraceLogPosixTest, WritesOnlyToARegularFileOfItsOwnWithOneLink) {
    const auto firstAndLaterEntry = [] {
        ResetLogFirstOpenForTesting();
        Trace("first");
        Trace("later");
    };
    ASSERT_EQ(::mkfifo(LogPath().c_str(), 0666), 0);
    const int reader = ::open(LogPath().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    firstAndLaterEntry();
    char byte;
    EXPECT_LE(::read(reader, &byte, 1), 0) << "entries went into a FIFO";
    ::close(reader);
    firstAndLaterEntry();  // no reader now: the open must not wait for one
    RemoveFile(LogPath());

    const std::string victim = dir.File("victim");
    WriteFile(victim, "precious");
    ASSERT_EQ(::link(victim.c_str(), LogPath().c_str()), 0);
    firstAndLaterEntry();
    EXPECT_EQ(ReadFile(victim), "precious");
    RemoveFile(LogPath());

    std::filesystem::create_directory(LogPath());
    firstAndLaterEntry();
    std::filesystem::remove(LogPath());

    if (::geteuid() == 0) {  // only root can give a file to another user
        WriteFile(LogPath(), "theirs");
        ASSERT_EQ(::chown(LogPath().c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(LogPath().c_str(), 0666), 0);
        firstAndLaterEntry();
        EXPECT_EQ(ReadFile(LogPath()), "theirs");
        RemoveFile(LogPath());
    }

    firstAndLaterEntry();
    EXPECT_EQ(Messages(), (std::vector<std::string>{"first", "later"}));
}

}  // namespace
}  // namespace nelko::test
