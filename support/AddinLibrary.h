// The add-in library, loaded at run time exactly as a Remote Desktop client or a caller of
// SimulationExecute loads it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/ChannelApi.h"
#include "platform/Platform.h"

namespace nelko::support {

using VirtualChannelEntryFn = BOOL(VCAPITYPE*)(PCHANNEL_ENTRY_POINTS);
#if NELKO_ADDIN_EXTENDED_ENTRY
using VirtualChannelEntryExFn = BOOL(VCAPITYPE*)(PCHANNEL_ENTRY_POINTS_EX, PVOID);
#endif
using SimulationExecuteFn = void (*)(const char* request, char* buffer, std::uint32_t bufferSize,
                                     std::uint32_t* responseLength);

inline constexpr std::uint32_t kFirstResponseBuffer = 64 * 1024;
inline constexpr std::uint32_t kLargestResponseBuffer = 16 * 1024 * 1024;

// Runs the request, offering ever larger buffers while the response does not fit. Nothing
// when not even the largest buffer got a response.
std::optional<std::string> ExecuteWithGrowingBuffer(SimulationExecuteFn execute, const std::string& request);

// Path of the built add-in (NELKO_ADDIN_FILE_NAME) in the working directory.
std::string AddinLibraryPath();

class AddinLibrary {
public:
    // What a caller cannot do without: a caller of SimulationExecute has no use for the
    // channel entries, which stay null where the library lacks them.
    enum class Needs { SimulationExecute, Everything };

    // Null when the library does not load or lacks an export it needs; `error` then says
    // why, naming the path.
    static std::unique_ptr<AddinLibrary> Load(const std::string& path, std::string& error,
                                              Needs needs = Needs::Everything);
    ~AddinLibrary();
    AddinLibrary(const AddinLibrary&) = delete;
    AddinLibrary& operator=(const AddinLibrary&) = delete;

    std::optional<std::string> Execute(const std::string& request) const {
        return ExecuteWithGrowingBuffer(SimulationExecute, request);
    }
    // One call with the caller's buffer: the response's length, 0 when none was delivered.
    std::uint32_t ExecuteInto(const char* request, char* buffer, std::uint32_t size) const {
        std::uint32_t length = 0;
        SimulationExecute(request, buffer, size, &length);
        return length;
    }

    SimulationExecuteFn SimulationExecute = nullptr;
    VirtualChannelEntryFn VirtualChannelEntry = nullptr;
#if NELKO_ADDIN_EXTENDED_ENTRY
    VirtualChannelEntryExFn VirtualChannelEntryEx = nullptr;
#endif

private:
    AddinLibrary() = default;
    platform::LibraryHandle handle_ = nullptr;
};

}  // namespace nelko::support
