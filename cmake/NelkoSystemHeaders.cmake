# The mingw-w64 cross builds see the mingw-w64 tree only. A header-only library of
# Debian's (Boost, CLI11) reaches them through the build-local folder
# ${CMAKE_BINARY_DIR}/system-headers, which holds nothing but a symbolic link to each such
# library's folder: /usr/include, and with it the Linux system headers, stays off their
# include path. Consumers take the folder as a SYSTEM include, so the project's warnings
# apply to our code only.
include_guard(GLOBAL)

# nelko_link_system_headers(NAME FOLDER): the link system-headers/NAME -> FOLDER, made
# anew when it pointed elsewhere. Sets NELKO_SYSTEM_HEADERS to the folder of the links.
function(nelko_link_system_headers name folder)
  set(headers "${CMAKE_BINARY_DIR}/system-headers")
  set(link "${headers}/${name}")
  file(MAKE_DIRECTORY "${headers}")
  if(IS_SYMLINK "${link}")
    file(READ_SYMLINK "${link}" target)
    if(NOT target STREQUAL folder)
      file(REMOVE "${link}")
    endif()
  endif()
  if(NOT IS_SYMLINK "${link}")
    if(EXISTS "${link}")
      message(FATAL_ERROR "${link} exists and is not a symbolic link")
    endif()
    file(CREATE_LINK "${folder}" "${link}" SYMBOLIC RESULT result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "Cannot create ${link}: ${result}")
    endif()
  endif()
  set(NELKO_SYSTEM_HEADERS "${headers}" PARENT_SCOPE)
endfunction()
