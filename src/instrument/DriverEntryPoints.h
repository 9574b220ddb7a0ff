// The loaded driver library and its bound functions.
#pragma once

#include <cstdint>

#define NELKO_DRIVER_NO_PROTOTYPES  // the add-in calls drivers through pointers only
#include "NelkoDriver.h"
#include "platform/Platform.h"

namespace nelko {

// Drivers return C++ `bool`, but only its low 8 bits are defined by the ABI: a driver
// built by another compiler may leave garbage in the upper bits of the register. Reading
// the result as an 8-bit integer and testing it for non-zero accepts every such driver.
template <typename T>
struct DriverResult {
    using Type = T;
};
template <>
struct DriverResult<bool> {
    using Type = std::uint8_t;
};
using DriverBool = DriverResult<bool>::Type;

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
#define NELKO_DECLARE_ENTRY_POINT(name, result, parameters, arguments) \
    DriverResult<result>::Type(NELKO_DRIVER_CALL* name) parameters = nullptr;
    NELKO_DRIVER_FUNCTIONS(NELKO_DECLARE_ENTRY_POINT)
#undef NELKO_DECLARE_ENTRY_POINT
};

}  // namespace nelko
