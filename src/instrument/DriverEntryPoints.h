// The loaded driver library and its 31 bound functions.
#pragma once

#include "instrument/DriverInterface.h"
#include "platform/Platform.h"

namespace nelko {

// Owns the handle of the loaded driver library; empty while no driver is loaded.
class DriverModule {
public:
    DriverModule() = default;
    ~DriverModule() { Release(); }
    DriverModule(const DriverModule&) = delete;
    DriverModule& operator=(const DriverModule&) = delete;

    bool IsLoaded() const { return handle_ != nullptr; }
    platform::LibraryHandle Handle() const { return handle_; }
    void Reset(platform::LibraryHandle handle) {
        Release();
        handle_ = handle;
    }
    void Release() {
        platform::CloseLibrary(handle_);
        handle_ = nullptr;
    }

private:
    platform::LibraryHandle handle_ = nullptr;
};

// All null while no driver is loaded, all bound while one is: never partly bound.
struct DriverEntryPoints {
#define NELKO_DECLARE_ENTRY_POINT(name, type) type name = nullptr;
    NELKO_DRIVER_ENTRY_POINTS(NELKO_DECLARE_ENTRY_POINT)
#undef NELKO_DECLARE_ENTRY_POINT
};

}  // namespace nelko
