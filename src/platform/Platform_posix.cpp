// POSIX implementation of the platform interface (Linux clients through FreeRDP).
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "platform/Platform.h"

namespace nelko::platform {

const char* const kLogPathSeparator = "/";

std::string TemporaryDirectory() {
    const char* tmpdir = std::getenv("TMPDIR");
    return (tmpdir != nullptr && *tmpdir != '\0') ? tmpdir : "/tmp";
}

LocalTime CurrentLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
}

namespace {

// Looked up once: the owner every log file must have.
uid_t LogOwner() {
    static const uid_t owner = ::geteuid();
    return owner;
}

// Another process of this user holds the lock only while it empties or renames the log; a
// stuck one must not hold up the client, so after two seconds the caller goes without.
bool LockLogFile(int fd) {
    for (int attempt = 0; attempt < 2000; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        const timespec pause{0, 1000000};
        ::nanosleep(&pause, nullptr);
    }
    return false;
}

// Whether `path` still names the file open as `fd`: another process may have renamed it to
// NAME.1 and started a new log between the open and the lock.
bool StillNamedBy(int fd, const std::string& path) {
    struct stat held = {};
    struct stat named = {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

int OpenChecked(const std::string& path, std::uint64_t& size) {
    // Another user may have put anything under the log's name. O_NONBLOCK: a FIFO would
    // otherwise hold the caller (the first entry is written inside dlopen, under the
    // loader's lock) until someone reads it.
    const int flags = O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd;
    do {
        fd = ::open(path.c_str(), flags, S_IRUSR | S_IWUSR);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    // Only a regular file of this user that no other name reaches: the entries would land
    // in another user's file, or the emptying would hit the target of a hard link. The
    // emptying waits for these checks, hence no O_TRUNC.
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != LogOwner() || info.st_nlink != 1) {
        ::close(fd);
        return -1;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return fd;
}

// Empties the log open as `fd` unless it is no longer the one at `path`: emptying a file
// just renamed to NAME.1 would lose the history the rename kept.
bool EmptyIfStillNamed(int fd, const std::string& path) {
    if (!LockLogFile(fd)) return false;
    const bool emptied = StillNamedBy(fd, path) && ::ftruncate(fd, 0) == 0;
    ::flock(fd, LOCK_UN);
    return emptied;
}

// With O_APPEND each write lands at the end and leaves the offset after it. The fragment is
// cut off only while it is one piece and still the end of the file: an entry another process
// appended since must never be cut.
void TakeBackFragment(int fd, off_t start, std::size_t written) {
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    struct stat info = {};
    if (end - start == static_cast<off_t>(written) && ::fstat(fd, &info) == 0 && info.st_size == end &&
        ::ftruncate(fd, start) != 0) {
        return;  // the fragment stays: nothing else can remove it
    }
}

}  // namespace

// Within one load of the library: FreeRDP loads the plug-in once a process, and the
// environment, the one mark that would outlive dlclose, is not safe to change while the
// client's other threads may read it.
namespace {
bool firstLogEntryClaimed = false;  // guarded by the trace log's first-open lock
}  // namespace

bool ClaimFirstLogEntryOfProcess() { return !std::exchange(firstLogEntryClaimed, true); }

void ForgetFirstLogEntryOfProcess() { firstLogEntryClaimed = false; }

OpenedLogFile OpenLogFileForWriting(const std::string& path, bool truncate) {
    std::uint64_t size = 0;
    // A rename by another process between the open and the emptying is rare; a new open then
    // finds the new log.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = OpenChecked(path, size);
        if (fd < 0) return {kInvalidFile, 0};
        if (!truncate) return {fd, size};
        if (EmptyIfStillNamed(fd, path)) return {fd, 0};
        ::close(fd);
    }
    const int fd = OpenChecked(path, size);
    return {fd < 0 ? kInvalidFile : fd, size};
}

bool RotateLogFile(const std::string& path, const std::string& to, std::uint64_t limit) {
    std::uint64_t size = 0;
    const int fd = OpenChecked(path, size);
    if (fd < 0) return false;
    bool done = false;
    if (LockLogFile(fd)) {
        struct stat info = {};
        // Renamed or emptied by another process already: nothing left to do.
        done = !StillNamedBy(fd, path) || ::fstat(fd, &info) != 0 || static_cast<std::uint64_t>(info.st_size) < limit ||
               ::rename(path.c_str(), to.c_str()) == 0;
    }
    ::close(fd);  // releases the lock
    return done;
}

void WriteToFile(FileHandle file, const char* data, std::size_t size) {
    if (file == kInvalidFile) return;
    const int fd = static_cast<int>(file);
    std::size_t written = 0;
    off_t start = 0;
    while (written < size) {
        const ssize_t result = ::write(fd, data + written, size - written);
        if (result < 0 && errno == EINTR) continue;
        if (result <= 0) break;
        // Only a short first write costs the extra call.
        if (written == 0 && static_cast<std::size_t>(result) < size) start = ::lseek(fd, 0, SEEK_CUR) - result;
        written += static_cast<std::size_t>(result);
    }
    if (written != 0 && written < size) TakeBackFragment(fd, start, written);
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

void EndAbortingProcess() {}

void ShowMessage(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

// A shared object has no load notification of its own: the hooks object's construction
// and destruction stand in for it, at dlopen/dlclose and at process exit alike.
LibraryLifetimeHooks::LibraryLifetimeHooks(Callback onAttach, Callback onDetach) : onDetach_(onDetach) { onAttach(); }

LibraryLifetimeHooks::~LibraryLifetimeHooks() { onDetach_(); }

}  // namespace nelko::platform
