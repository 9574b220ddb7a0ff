// Properties of the log that only exist on POSIX systems.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
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

// Exit status of a child process that runs `body` and reports with its exit code.
template <typename Body>
pid_t InChild(Body body) {
    const pid_t child = ::fork();
    if (child == 0) std::_Exit(body());
    return child;
}

int ExitCodeOf(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Of two processes that find the log full at once, the second must find it started anew
// and never rename that fresh log over the full one: NAME.1 is never smaller than the limit.
TEST_F(TraceLogPosixTest, TwoProcessesRotatingAtOnceKeepTheFullLog) {
    constexpr std::uint64_t kLimit = 3000;
    SetLogTestSeam({dir.Path(), [] { return platform::LocalTime{2026, 3, 8, 7, 5, 9}; }, kLimit});
    Trace("first");
    const std::string rotated = LogPath() + ".1";
    std::vector<pid_t> children;
    children.reserve(2);
    for (int process = 0; process < 2; ++process) {
        children.push_back(InChild([&rotated, process] {
            int smallRotations = 0;
            for (int i = 0; i < 20000; ++i) {
                Trace("entry " + std::to_string(i) + " of process " + std::to_string(process));
                struct stat info = {};
                if (::stat(rotated.c_str(), &info) == 0 && static_cast<std::uint64_t>(info.st_size) < kLimit)
                    ++smallRotations;
            }
            return smallRotations == 0 ? 0 : 1;
        }));
    }
    for (const pid_t child : children) EXPECT_EQ(ExitCodeOf(child), 0) << "NAME.1 was once smaller than the limit";
}

// A full disk cuts an entry: what got written is taken back, so the entry after it starts a
// line of its own. The file size limit stands in for the full disk.
TEST_F(TraceLogPosixTest, AnEntryCutByAFullDiskIsTakenBack) {
    Trace("before");
    const std::string log = LogPath();
    EXPECT_EQ(ExitCodeOf(InChild([&log] {
                  std::signal(SIGXFSZ, SIG_IGN);
                  rlimit limit = {};
                  struct stat info = {};
                  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || ::stat(log.c_str(), &info) != 0) return 1;
                  const rlimit saved = limit;
                  limit.rlim_cur = static_cast<rlim_t>(info.st_size) + 40;
                  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 1;
                  Trace("cut " + std::string(200, 'x'));
                  if (::setrlimit(RLIMIT_FSIZE, &saved) != 0) return 1;
                  Trace("after");
                  return 0;
              })),
              0);
    EXPECT_EQ(Messages(), (std::vector<std::string>{"before", "after"}));
}

}  // namespace
}  // namespace nelko::test
