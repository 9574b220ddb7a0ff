#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <exception>

#include "command/Instrument.h"
#include "diagnostics/TraceLog.h"

namespace nelko {
namespace {

// The longest base name the classic path buffer (".\" + name + ".dll" + NUL in 260
// characters) can hold.
constexpr std::size_t kMaxDriverNameLength = 253;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens these names as devices in any folder, whatever follows a dot and with
// trailing spaces ("COM1", "com1.dll", "Nul .txt"), and a serial port may be where the
// instrument itself sits. The superscript digits are those of the Latin-1 code page.
bool IsReservedDeviceName(const std::string& segment) {
    std::string stem = segment.substr(0, segment.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    std::transform(stem.begin(), stem.end(), stem.begin(), AsciiUpper);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (stem == device) return true;
    if (stem.size() != 4 || (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0)) return false;
    const char number = stem[3];
    return (number >= '0' && number <= '9') || number == '\xB9' || number == '\xB2' || number == '\xB3';
}

// Windows drops trailing dots and spaces of a path segment, so "..." or ".. " would lead
// to the parent folder; only the plain "." is kept.
bool EndsInDotOrSpace(const std::string& segment) {
    return segment != "." && !segment.empty() && (segment.back() == '.' || segment.back() == ' ');
}

// The name comes from the remote server: it may name a library below the current
// directory, never one outside it. Loading a library the server picked from anywhere on
// the client (another folder, a network share, a redirected drive) would run its code.
// The same rules hold on every platform, so a server sees one behaviour everywhere.
bool IsAcceptableDriverName(const std::string& name) {
    if (name.empty() || name.size() > kMaxDriverNameLength) return false;
    if (IsSeparator(name.front()) || name.find(':') != std::string::npos) return false;
    if (name.find('\0') != std::string::npos) return false;
    std::string::size_type start = 0;
    while (start <= name.size()) {
        const auto end = std::find_if(name.begin() + static_cast<std::ptrdiff_t>(start), name.end(), IsSeparator);
        const std::string segment(name.begin() + static_cast<std::ptrdiff_t>(start), end);
        if (EndsInDotOrSpace(segment) || IsReservedDeviceName(segment)) return false;
        start = static_cast<std::string::size_type>(end - name.begin()) + 1;
    }
    return true;
}

std::atomic<bool> endOfProcessTraced{false};

// Both ways a throwing driver ends the process come here, one after the other where the
// first leads to the second: the reason is traced once.
void TraceEndAfterThrowingDriver() {
    if (endOfProcessTraced.exchange(true)) return;
    Trace("Loading Driver error");
    Trace(
        "! The driver threw an exception while it was loaded: the process ends, as the system's library loader "
        "stays locked after that");
}

[[noreturn]] void EndAfterThrowingDriver() {
    TraceEndAfterThrowingDriver();
    std::abort();
}

void TraceAbortWhileLoading(int) {
    TraceEndAfterThrowingDriver();
    platform::EndAbortingProcess();
}

// The loader runs the driver's static constructors under its own lock. An exception from
// one would unwind through the loader and leave that lock held: every later load, in any
// thread, and the process's exit would wait for ever. It stops at this boundary instead,
// which ends the process at once; the handler in place meanwhile says why in the log.
// Where each library unwinds only its own frames (32-bit Windows, whose DLLs carry their
// own static runtime), the exception never gets here: it ends in the driver's own
// std::terminate, which our handler does not reach, but whose abort() comes through the
// C runtime every module shares.
platform::LibraryHandle OpenDriverLibrary(const std::string& path) noexcept {
    const std::terminate_handler previous = std::set_terminate(EndAfterThrowingDriver);
    const auto previousAbortHandler = std::signal(SIGABRT, TraceAbortWhileLoading);
    const platform::LibraryHandle library = platform::OpenLibrary(path);
    if (previousAbortHandler != SIG_ERR) std::signal(SIGABRT, previousAbortHandler);
    std::set_terminate(previous);
    return library;
}

}  // namespace

// Marked unloaded before it is closed: a driver whose static destructors call the add-in
// back finds no driver rather than one half torn down.
void Instrument::UnloadDriver() {
    driver_ = DriverEntryPoints{};
    driverModule_.reset();
}

bool Instrument::LoadDriver(const std::string& name) {
    UnloadDriver();
    if (!IsAcceptableDriverName(name)) return false;
    const std::string path = platform::DriverLibraryPath(name);
    if (path.empty()) return false;
    driverModule_.reset(OpenDriverLibrary(path));
    if (!DriverLoaded()) return false;

    // Bind into a scratch table first, so the real one is never seen partly bound.
    DriverEntryPoints bound;
    bool complete = true;
#define NELKO_BIND_ENTRY_POINT(name, result, parameters, arguments)                                            \
    if (complete) {                                                                                            \
        bound.name = reinterpret_cast<decltype(bound.name)>(platform::FindExport(driverModule_.get(), #name)); \
        complete = bound.name != nullptr;                                                                      \
    }
    NELKO_DRIVER_FUNCTIONS(NELKO_BIND_ENTRY_POINT)
#undef NELKO_BIND_ENTRY_POINT
    if (!complete) {
        UnloadDriver();
        return false;
    }
    driver_ = bound;
    return true;
}

Result Instrument::OnInit(const Parameters& parameters) {
    if (parameters.empty()) return Result::Failure("Missing parameter");
    const std::string& name = parameters.front();
    Trace("Loading driver \"" + name + "\"");
    if (LoadDriver(name)) {
        Trace("Loading Driver success");
        return Result::Success();
    }
    Trace("Loading Driver error");
    return Result::Failure("Error loading driver (\"" + name + "\") on client");
}

}  // namespace nelko
