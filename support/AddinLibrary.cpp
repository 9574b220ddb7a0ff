#include "AddinLibrary.h"

#include <type_traits>
#include <vector>

#include "Libraries.h"

namespace nelko::support {

std::optional<std::string> ExecuteWithGrowingBuffer(SimulationExecuteFn execute, const std::string& request) {
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

std::string AddinLibraryPath() { return "./" NELKO_ADDIN_FILE_NAME; }

std::unique_ptr<AddinLibrary> AddinLibrary::Load(const std::string& path, std::string& error, Needs needs) {
    std::unique_ptr<AddinLibrary> library(new AddinLibrary);
    library->handle_ = platform::OpenLibrary(path);
    if (library->handle_ == nullptr) {
        const std::string reason = LastLibraryLoadError();
        error = "cannot load the add-in library " + path + (reason.empty() ? "" : ": " + reason);
        return nullptr;
    }
    const auto bind = [&](auto& function, const char* name, bool needed) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(platform::FindExport(library->handle_, name));
        if (function == nullptr && needed && error.empty())
            error = "the library " + path + " has no export " + name + " (not the add-in library?)";
    };
    const bool everything = needs == Needs::Everything;
    error.clear();
    bind(library->SimulationExecute, "SimulationExecute", true);
    bind(library->VirtualChannelEntry, "VirtualChannelEntry", everything);
#if NELKO_ADDIN_EXTENDED_ENTRY
    bind(library->VirtualChannelEntryEx, "VirtualChannelEntryEx", everything);
#endif
    if (!error.empty()) return nullptr;
    return library;
}

AddinLibrary::~AddinLibrary() { platform::CloseLibrary(handle_); }

}  // namespace nelko::support
