// The loaded driver library and its bound functions.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#define NELKO_DRIVER_NO_PROTOTYPES  // the add-in calls drivers through pointers only
#include "NelkoDriver.h"
#include "platform/Platform.h"

namespace nelko {

// Drivers return C++ `bool`, but only its low 8 bits are defined by the ABI: a driver
// built by another compiler may leave garbage in the upper bits of the register. Reading
// the result as an 8-bit integer and testing it for non-zero accepts every such driver.
template <typename T>
using DriverResult = std::conditional_t<std::is_same_v<T, bool>, std::uint8_t, T>;
using DriverBool = DriverResult<bool>;

// Owns the handle of the loaded driver library; empty while no driver is loaded.
struct LibraryCloser {
    void operator()(platform::LibraryHandle library) const { platform::CloseLibrary(library); }
};
using DriverModule = std::unique_ptr<void, LibraryCloser>;

// All null while no driver is loaded, all bound while one is: never partly bound.
struct DriverEntryPoints {
#define NELKO_DECLARE_ENTRY_POINT(name, result, parameters, arguments) \
    DriverResult<result>(NELKO_DRIVER_CALL * name) parameters = nullptr;
    NELKO_DRIVER_FUNCTIONS(NELKO_DECLARE_ENTRY_POINT)
#undef NELKO_DECLARE_ENTRY_POINT
};

}  // namespace nelko
