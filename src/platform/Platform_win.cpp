// Windows implementation of the platform interface (the Remote Desktop client's own OS).
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <climits>

#include "platform/Platform.h"

namespace nelko::platform {

const char* const kLogPathSeparator = "\\";

std::string TemporaryDirectory() {
    char buffer[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, buffer);
    if (length == 0 || length > MAX_PATH) return "c:";
    return std::string(buffer, length);
}

LocalTime CurrentLocalTime() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

// The mark is a variable of the process's environment, which outlives the DLL. Its value is
// the process's id: a child process inherits the environment but still starts its own log.
namespace {
const char kFirstLogEntryMark[] = "NELKO_CLIENT_DRIVER_LOG_PROCESS";
}  // namespace

bool ClaimFirstLogEntryOfProcess() {
    const std::string process = std::to_string(GetCurrentProcessId());
    char value[16] = {};
    const DWORD length = GetEnvironmentVariableA(kFirstLogEntryMark, value, sizeof value);
    if (length > 0 && length < sizeof value && process == value) return false;
    SetEnvironmentVariableA(kFirstLogEntryMark, process.c_str());
    return true;
}

void ForgetFirstLogEntryOfProcess() { SetEnvironmentVariableA(kFirstLogEntryMark, nullptr); }

// Text mode turns each line feed into CR LF; sharing stays unrestricted so other
// programs can read the log while the client runs. Always appending, also after emptying:
// an entry of another thread that opened in between is then never overwritten.
OpenedLogFile OpenLogFileForWriting(const std::string& path, bool truncate) {
    int fd = -1;
    const int flags = _O_WRONLY | _O_CREAT | _O_APPEND | _O_TEXT | _O_NOINHERIT | (truncate ? _O_TRUNC : 0);
    if (_sopen_s(&fd, path.c_str(), flags, _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0) return {kInvalidFile, 0};
    const long long size = _filelengthi64(fd);
    return {fd, size > 0 ? static_cast<std::uint64_t>(size) : 0};
}

// Every process of this session that writes a log rotates it under this mutex, so the
// second of two that found it full sees it started anew. A process stuck while holding it
// must not hold up the client: after two seconds the caller goes without.
bool RotateLogFile(const std::string& path, const std::string& to, std::uint64_t limit) {
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, "Local\\NelkoClientDriverLogRotation");
    if (mutex == nullptr) return false;
    const DWORD wait = WaitForSingleObject(mutex, 2000);
    bool done = false;
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        WIN32_FILE_ATTRIBUTE_DATA info;
        // Gone or small: another process rotated it already. The rename itself fails while
        // another program holds the file open: the C runtime's sharing modes do not allow
        // deleting an open file.
        done = !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info) ||
               ((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow) < limit ||
               MoveFileExA(path.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
        ReleaseMutex(mutex);
    }
    CloseHandle(mutex);
    return done;
}

namespace {

// Bytes of `data` as text mode puts them on disk: each line feed becomes CR LF.
long long BytesOnDisk(const char* data, std::size_t size) {
    long long bytes = static_cast<long long>(size);
    for (std::size_t i = 0; i < size; ++i) bytes += data[i] == '\n' ? 1 : 0;
    return bytes;
}

}  // namespace

void WriteToFile(FileHandle file, const char* data, std::size_t size) {
    if (file == kInvalidFile) return;
    const int fd = static_cast<int>(file);
    // Appending writes at the end anyway; where that is, is only needed to take a fragment back.
    const long long start = _lseeki64(fd, 0, SEEK_END);
    const long long entryOnDisk = BytesOnDisk(data, size);
    while (size > 0) {
        const unsigned int chunk = size > INT_MAX / 2 ? INT_MAX / 2 : static_cast<unsigned int>(size);
        if (_write(fd, data, chunk) != static_cast<int>(chunk)) {
            // A full disk: the C runtime writes text in pieces, some of which may have landed,
            // and leaves the position after them. They are cut off while they are the end of
            // the file and no longer than this entry.
            const long long end = _telli64(fd);
            if (start >= 0 && end > start && end - start < entryOnDisk && _filelengthi64(fd) == end)
                (void)_chsize_s(fd, start);
            return;
        }
        data += chunk;  // text mode reports translated bytes; the chunk was taken whole
        size -= chunk;
    }
}

void CloseFile(FileHandle file) {
    if (file != kInvalidFile) _close(static_cast<int>(file));
}

namespace {

// The path as the loader itself will take it: absolute, "." and ".." resolved, trailing
// dots and spaces of each segment dropped, reserved device names turned into device paths.
// Empty when it does not fit.
std::string FullPath(const std::string& path) {
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) return std::string();
    return std::string(full, length);
}

}  // namespace

// ".\NAME.dll" would not load from the current directory only: Windows resolves a
// relative name with its search order, which puts the client's own folder and the system
// folders first. The absolute path names exactly the file in the current directory. It is
// given in the loader's own normal form, and only when that form still lies inside the
// current directory: checks of the name alone cannot foresee every rewrite of the
// normalisation (device names, segments of dots). A form that a second normalisation
// would change again is refused too: the loader normalises once more (Wine turns
// "DIR\...\X" into "DIR\..\X", which only the next pass resolves to the parent's X).
std::string DriverLibraryPath(const std::string& baseName) {
    std::string folder = FullPath(".");
    if (folder.empty()) return std::string();
    if (folder.back() != '\\') folder += '\\';
    const std::string path = FullPath(folder + baseName + ".dll");
    if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0 || FullPath(path) != path) {
        return std::string();
    }
    return path;
}

LibraryHandle OpenLibrary(const std::string& path) {
    const std::string full = FullPath(path);
    if (full.empty()) return nullptr;
    // Altered search path: a vendor driver's own DLLs are found beside it.
    return LoadLibraryExA(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void* FindExport(LibraryHandle library, const char* name) {
    if (library == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(LibraryHandle library) {
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

void EndAbortingProcess() { ::TerminateProcess(::GetCurrentProcess(), 3); }  // abort()'s exit code

void ShowMessage(const std::string& text, const std::string& caption) {
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

namespace {
LibraryLifetimeHooks::Callback attachCallback = nullptr;
LibraryLifetimeHooks::Callback detachCallback = nullptr;
}  // namespace

// The C runtime builds the static objects before DllMain hears of the attach and destroys
// them after it hears of the detach, so the hooks only hand their callbacks to DllMain.
LibraryLifetimeHooks::LibraryLifetimeHooks(Callback onAttach, Callback onDetach) : onDetach_(onDetach) {
    attachCallback = onAttach;
    detachCallback = onDetach_;
}

LibraryLifetimeHooks::~LibraryLifetimeHooks() { detachCallback = nullptr; }

}  // namespace nelko::platform

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    using nelko::platform::attachCallback;
    using nelko::platform::detachCallback;
    if (reason == DLL_PROCESS_ATTACH && attachCallback != nullptr) attachCallback();
    if (reason == DLL_PROCESS_DETACH && detachCallback != nullptr) detachCallback();
    return TRUE;
}
