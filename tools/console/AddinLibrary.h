// The add-in library, loaded at run time as a caller loads it, and its SimulationExecute.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/Platform.h"

namespace nelko::console {

using SimulationExecuteFunction = void (*)(const char* request, char* buffer, std::uint32_t bufferSize,
                                           std::uint32_t* responseLength);

inline constexpr std::uint32_t kFirstResponseBuffer = 64 * 1024;
inline constexpr std::uint32_t kLargestResponseBuffer = 16 * 1024 * 1024;

// Runs the request, offering ever larger buffers while the response does not fit. Nothing
// when not even the largest buffer got a response.
std::optional<std::string> ExecuteWithGrowingBuffer(SimulationExecuteFunction execute, const std::string& request);

// Why a library cannot be used; the message names its path.
class LibraryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class AddinLibrary {
public:
    // Throws LibraryError when the library does not load or lacks SimulationExecute.
    explicit AddinLibrary(const std::string& path);
    ~AddinLibrary();
    AddinLibrary(const AddinLibrary&) = delete;
    AddinLibrary& operator=(const AddinLibrary&) = delete;

    std::optional<std::string> Execute(const std::string& request) const;

private:
    platform::LibraryHandle handle_ = nullptr;
    SimulationExecuteFunction execute_ = nullptr;
};

}  // namespace nelko::console
