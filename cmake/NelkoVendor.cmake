# Who the packages name: the .deb's maintainer, the copyright holder of every package (the
# .deb's copyright file, copyright.txt in the MSIs and zips, the MSI's manufacturer) and the
# licence text. The defaults name nobody: a distributor sets its own when configuring.
set(NELKO_VENDOR "Example Vendor" CACHE STRING "Copyright holder and MSI manufacturer named by the packages")
set(NELKO_MAINTAINER "Example Vendor <packages@vendor.example>" CACHE STRING "Maintainer named in the .deb")
set(NELKO_LICENSE_FILE "${PROJECT_SOURCE_DIR}/packaging/licence-unset.txt" CACHE FILEPATH
  "Text file of the licence terms the packages' copyright files carry")
file(READ "${NELKO_LICENSE_FILE}" NELKO_LICENSE_TEXT)
string(STRIP "${NELKO_LICENSE_TEXT}" NELKO_LICENSE_TEXT)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${NELKO_LICENSE_FILE}")
