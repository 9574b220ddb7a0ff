// Libraries as the tests and the add-in loader see them, beyond the product's platform layer.
// One implementation file per OS for all of support/: System_posix.cpp, System_win.cpp.
#pragma once

#include <string>

namespace nelko::support {

// Why the most recent library load failed, as the OS puts it; call right after the failure.
std::string LastLibraryLoadError();
// Whether the library at this path is mapped into the process right now.
bool IsLibraryResident(const std::string& path);
// File name of a driver library with this base name.
std::string DriverFileName(const std::string& baseName);

}  // namespace nelko::support
