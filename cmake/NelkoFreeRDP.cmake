# Which FreeRDP the Linux build uses: FreeRDP 2's development files where they are installed
# (Debian 12), otherwise FreeRDP 3's (Debian 13 has no FreeRDP 2). The add-in only takes the
# channel types from these headers, and they are the same in both, so one plug-in serves both
# clients; -DNELKO_FREERDP=3 picks FreeRDP 3 where both are installed.
#   NELKO_FREERDP           2 or 3
#   NELKO_FREERDP_MODULES   the pkg-config modules of that FreeRDP and its WinPR
#   NELKO_FREERDP_INCLUDE_DIRS  its header folders
#   NELKO_FREERDP_LIBDIR    the system library folder its add-in folders are in
include_guard(GLOBAL)
find_package(PkgConfig REQUIRED)

set(NELKO_FREERDP "" CACHE STRING "FreeRDP major version whose headers the Linux build uses (2 or 3; empty: 2 where installed)")
if(NOT NELKO_FREERDP)
  pkg_check_modules(_nelko_freerdp2 QUIET freerdp2 winpr2)
  if(_nelko_freerdp2_FOUND)
    set(_nelko_freerdp_major 2)
  else()
    set(_nelko_freerdp_major 3)
  endif()
else()
  set(_nelko_freerdp_major ${NELKO_FREERDP})
endif()
if(NOT _nelko_freerdp_major MATCHES "^[23]$")
  message(FATAL_ERROR "NELKO_FREERDP must be 2 or 3, not ${_nelko_freerdp_major}")
endif()
set(NELKO_FREERDP ${_nelko_freerdp_major})
set(NELKO_FREERDP_MODULES freerdp${NELKO_FREERDP} winpr${NELKO_FREERDP})
pkg_check_modules(_nelko_freerdp_found QUIET ${NELKO_FREERDP_MODULES})
if(NOT _nelko_freerdp_found_FOUND)
  message(FATAL_ERROR "FreeRDP ${NELKO_FREERDP}'s development files are missing or incomplete "
    "(pkg-config ${NELKO_FREERDP_MODULES}); Debian: apt-get install freerdp${NELKO_FREERDP}-dev "
    "(FreeRDP 3 also needs zlib1g-dev and libssl-dev), or run scripts/install-deps.sh core")
endif()
set(NELKO_FREERDP_INCLUDE_DIRS ${_nelko_freerdp_found_INCLUDE_DIRS})
pkg_get_variable(NELKO_FREERDP_LIBDIR freerdp${NELKO_FREERDP} libdir)
message(STATUS "FreeRDP: the Linux build uses FreeRDP ${NELKO_FREERDP}'s headers "
  "(${_nelko_freerdp_found_freerdp${NELKO_FREERDP}_VERSION})")
