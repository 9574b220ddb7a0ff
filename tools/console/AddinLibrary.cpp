#include "AddinLibrary.h"

#include <vector>

#include "ConsoleSystem.h"

namespace nelko::console {

std::optional<std::string> ExecuteWithGrowingBuffer(SimulationExecuteFunction execute, const std::string& request) {
    // Every retry runs the request again (a second Measure measures twice), so the first
    // buffer is large enough for any ordinary response.
    std::vector<char> buffer;
    for (std::uint32_t size = kFirstResponseBuffer;;
         size = size > kLargestResponseBuffer / 2 ? kLargestResponseBuffer : size * 2) {
        buffer.assign(size, '\0');
        std::uint32_t length = 0;
        execute(request.c_str(), buffer.data(), size, &length);
        if (length > 0 && length < size) return std::string(buffer.data(), length);
        if (size == kLargestResponseBuffer) return std::nullopt;
    }
}

AddinLibrary::AddinLibrary(const std::string& path) {
    handle_ = platform::OpenLibrary(path);
    if (handle_ == nullptr) {
        const std::string reason = LastLibraryLoadError();
        throw LibraryError("cannot load the add-in library " + path + (reason.empty() ? "" : ": " + reason));
    }
    execute_ = reinterpret_cast<SimulationExecuteFunction>(platform::FindExport(handle_, "SimulationExecute"));
    if (execute_ == nullptr) {
        platform::CloseLibrary(handle_);
        throw LibraryError("the library " + path + " has no export SimulationExecute (not the add-in library?)");
    }
}

AddinLibrary::~AddinLibrary() { platform::CloseLibrary(handle_); }

std::optional<std::string> AddinLibrary::Execute(const std::string& request) const {
    return ExecuteWithGrowingBuffer(execute_, request);
}

}  // namespace nelko::console
