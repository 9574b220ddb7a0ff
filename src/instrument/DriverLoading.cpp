#include <algorithm>
#include <cctype>

#include "command/Instrument.h"
#include "diagnostics/TraceLog.h"

namespace nelko {
namespace {

// The longest base name the classic path buffer (".\" + name + ".dll" + NUL in 260
// characters) can hold.
constexpr std::size_t kMaxDriverNameLength = 253;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The name comes from the remote server: it may name a library below the current
// directory, never one outside it. Loading a library the server picked from anywhere on
// the client (another folder, a network share, a redirected drive) would run its code.
bool IsAcceptableDriverName(const std::string& name) {
    if (name.empty() || name.size() > kMaxDriverNameLength) return false;
    if (IsSeparator(name.front()) || name.find(':') != std::string::npos) return false;
    if (name.find('\0') != std::string::npos) return false;
    std::string::size_type start = 0;
    while (start <= name.size()) {
        const auto end = std::find_if(name.begin() + static_cast<std::ptrdiff_t>(start), name.end(), IsSeparator);
        const std::string component(name.begin() + static_cast<std::ptrdiff_t>(start), end);
        if (component == "..") return false;
        start = static_cast<std::string::size_type>(end - name.begin()) + 1;
    }
    return true;
}

}  // namespace

void Instrument::UnloadDriver() {
    driverModule_.Release();
    driver_ = DriverEntryPoints{};
}

bool Instrument::LoadDriver(const std::string& name) {
    UnloadDriver();
    if (!IsAcceptableDriverName(name)) return false;
    const std::string path = platform::DriverLibraryPath(name);
    if (path.empty()) return false;
    driverModule_.Reset(platform::OpenLibrary(path));
    if (!driverModule_.IsLoaded()) return false;

    // Bind into a scratch table first, so the real one is never seen partly bound.
    DriverEntryPoints bound;
    bool complete = true;
#define NELKO_BIND_ENTRY_POINT(entry, type)                                                         \
    if (complete) {                                                                                 \
        bound.entry = reinterpret_cast<type>(platform::FindExport(driverModule_.Handle(), #entry)); \
        complete = bound.entry != nullptr;                                                          \
    }
    NELKO_DRIVER_ENTRY_POINTS(NELKO_BIND_ENTRY_POINT)
#undef NELKO_BIND_ENTRY_POINT
    if (!complete) {
        driverModule_.Release();
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
