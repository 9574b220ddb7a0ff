// Everything the add-in needs from the operating system, behind one small interface.
// One implementation file per OS: Platform_posix.cpp, Platform_win.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nelko::platform {

// ---- Trace log support ----------------------------------------------------------

// The per-user temporary directory, as the OS reports it (on Windows with its trailing
// backslash), or the OS's fallback when it cannot be had.
std::string TemporaryDirectory();

// Separator placed between the temporary directory and the log file name.
extern const char* const kLogPathSeparator;

struct LocalTime {
    int year;
    int month;  // 1..12
    int day;    // 1..31
    int hour;   // 0..23
    int minute;
    int second;
};
LocalTime CurrentLocalTime();

// A file opened for one log entry. Invalid handles are accepted everywhere and ignored,
// so a log that cannot be opened costs nothing but the failed open.
using FileHandle = long long;
inline constexpr FileHandle kInvalidFile = -1;

// A log file opened for one entry, and its size before that entry.
struct OpenedLogFile {
    FileHandle file;
    std::uint64_t size;
};
// Opens (creating when missing) for appending, emptied first when `truncate`. The log sits
// in a shared directory under a fixed name: the open never follows a symbolic link at the
// final path component and never waits for a reader, a new file is readable by its owner
// only, and where other users share the directory anything but a regular file of this
// user with a single link is refused (kInvalidFile) before it is emptied or written.
OpenedLogFile OpenLogFileForWriting(const std::string& path, bool truncate);
// Renames the log at `path` to `to`, replacing a file of that name, when it still holds at
// least `limit` bytes. Other processes may find the same log full at the same moment: under
// a lock they all take for this, only the first renames it and the others find it started
// anew, which they must never rename over the full one. False when the rename was due and
// could not be done.
bool RotateLogFile(const std::string& path, const std::string& to, std::uint64_t limit);
// Claims the process's first log entry, the one that empties the log: true for the first
// call in a process, false afterwards. The claim outlives the library where a client may
// unload and load it again in one process (Windows: FreeRDP's client does), so that the
// first load's lines are kept. Forgetting it is for tests.
bool ClaimFirstLogEntryOfProcess();
void ForgetFirstLogEntryOfProcess();
// Writes all bytes; line feeds become the platform's text-mode line end. What a full disk
// lets through of an entry is taken back while no other entry has followed it, so that the
// next entry never continues a fragment.
void WriteToFile(FileHandle file, const char* data, std::size_t size);
void CloseFile(FileHandle file);

// ---- Dynamic libraries -----------------------------------------------------------

using LibraryHandle = void*;

// Path of an instrument driver library with the given base name in the current
// directory (".\NAME.dll", "./NAME.so"); empty when it cannot be formed.
std::string DriverLibraryPath(const std::string& baseName);
// Loads the library at exactly this path; null on failure.
LibraryHandle OpenLibrary(const std::string& path);
// The export of this exact name, or null.
void* FindExport(LibraryHandle library, const char* name);
void CloseLibrary(LibraryHandle library);

// ---- User interface --------------------------------------------------------------

// A modal message with one OK button and no owner window (a line on standard error
// where there is no desktop message box).
void ShowMessage(const std::string& text, const std::string& caption);

// ---- Library lifetime --------------------------------------------------------------

// Reports the add-in library's load and unload to the given callbacks. Defined as a
// static object after the process-wide objects, so that attach comes after they are all
// built and detach before any of them is destroyed.
class LibraryLifetimeHooks {
public:
    using Callback = void (*)();
    LibraryLifetimeHooks(Callback onAttach, Callback onDetach);
    ~LibraryLifetimeHooks();
    LibraryLifetimeHooks(const LibraryLifetimeHooks&) = delete;
    LibraryLifetimeHooks& operator=(const LibraryLifetimeHooks&) = delete;

private:
    Callback onDetach_;
};

// For a SIGABRT handler that has traced why: ends the process at once, running nothing more
// of it. Windows' abort() would go on through ExitProcess and every library's detach code;
// POSIX's kills by the signal once the handler returns, so there this does nothing.
void EndAbortingProcess();

}  // namespace nelko::platform
