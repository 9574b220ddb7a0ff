// POSIX implementation of the platform interface (Linux clients through FreeRDP).
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/Platform.h"

namespace nelko::platform {

const char* const kLogPathSeparator = "/";

std::string TemporaryDirectory() {
    const char* tmpdir = std::getenv("TMPDIR");
    return (tmpdir != nullptr && *tmpdir != '\0') ? tmpdir : "/tmp";
}

// Every trace entry asks for the time, and localtime_r costs as much as the rest of the
// entry's own work. Within one second the answer cannot change: localtime_r reads the zone
// rules only once per process (a later tzset() by the host takes effect from the next
// second on). A thread that finds the cache taken by another simply does without it.
namespace {
std::atomic_flag localTimeBusy = ATOMIC_FLAG_INIT;
std::time_t localTimeSecond = 0;
bool localTimeValid = false;
LocalTime localTimeCached{};
}  // namespace

LocalTime CurrentLocalTime() {
    const std::time_t now = std::time(nullptr);
    if (!localTimeBusy.test_and_set(std::memory_order_acquire)) {
        const bool hit = localTimeValid && localTimeSecond == now;
        const LocalTime cached = localTimeCached;
        localTimeBusy.clear(std::memory_order_release);
        if (hit) return cached;
    }
    std::tm parts{};
    localtime_r(&now, &parts);
    const LocalTime time{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                         parts.tm_hour,        parts.tm_min,     parts.tm_sec};
    if (!localTimeBusy.test_and_set(std::memory_order_acquire)) {
        localTimeSecond = now;
        localTimeCached = time;
        localTimeValid = true;
        localTimeBusy.clear(std::memory_order_release);
    }
    return time;
}

OpenedLogFile OpenLogFileForWriting(const std::string& path, bool truncate) {
    // Another user may have put anything under the log's name. O_NONBLOCK: a FIFO would
    // otherwise hold the caller (the first entry is written inside dlopen, under the
    // loader's lock) until someone reads it.
    const int flags = O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd;
    do {
        fd = ::open(path.c_str(), flags, S_IRUSR | S_IWUSR);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return {kInvalidFile, 0};
    // Only a regular file of this user that no other name reaches: the entries would land
    // in another user's file, or the emptying would hit the target of a hard link. The
    // emptying waits for these checks, hence no O_TRUNC.
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || info.st_nlink != 1 ||
        (truncate && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return {kInvalidFile, 0};
    }
    return {fd, truncate ? 0 : static_cast<std::uint64_t>(info.st_size)};
}

bool RenameReplacing(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

void WriteToFile(FileHandle file, const char* data, std::size_t size) {
    if (file == kInvalidFile) return;
    while (size > 0) {
        const ssize_t written = ::write(static_cast<int>(file), data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void CloseFile(FileHandle file) {
    if (file != kInvalidFile) ::close(static_cast<int>(file));
}

std::string DriverLibraryPath(const std::string& baseName) { return "./" + baseName + ".so"; }

LibraryHandle OpenLibrary(const std::string& path) {
    // RTLD_LOCAL keeps one driver's symbols from resolving another's.
    return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindExport(LibraryHandle library, const char* name) {
    return library == nullptr ? nullptr : ::dlsym(library, name);
}

void CloseLibrary(LibraryHandle library) {
    if (library != nullptr) ::dlclose(library);
}

void ShowMessage(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

// A shared object has no load notification of its own: the hooks object's construction
// and destruction stand in for it, at dlopen/dlclose and at process exit alike.
LibraryLifetimeHooks::LibraryLifetimeHooks(Callback onAttach, Callback onDetach) : onDetach_(onDetach) { onAttach(); }

LibraryLifetimeHooks::~LibraryLifetimeHooks() { onDetach_(); }

}  // namespace nelko::platform
