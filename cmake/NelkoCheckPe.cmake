# Checks a Windows PE file (exe or dll) with objdump; run with cmake -P, e.g. as a test:
#
#   add_test(NAME dll_exports COMMAND ${CMAKE_COMMAND}
#     -DPE_FILE=$<TARGET_FILE:MyDll> -DOBJDUMP=${CMAKE_OBJDUMP}
#     "-DEXPECT_EXPORTS=1:VirtualChannelEntry;2:SimulationExecute"
#     -P ${PROJECT_SOURCE_DIR}/cmake/NelkoCheckPe.cmake)
#
# PE_FILE          file to check (required)
# OBJDUMP          objdump that reads PE files (default: objdump)
# EXPECT_EXPORTS   if set: the complete export table as ORDINAL:NAME pairs; any other,
#                  missing, renamed (for example decorated "Name@8") or unnamed export fails
# FORBIDDEN_IMPORTS  regular expression for DLL names that must not be imported; default:
#                  the mingw-w64 runtime DLLs (libstdc++, libgcc_s, libwinpthread, ...),
#                  which the static link keeps out
if(NOT PE_FILE)
  message(FATAL_ERROR "PE_FILE is not set")
endif()
if(NOT OBJDUMP)
  set(OBJDUMP objdump)
endif()
if(NOT DEFINED FORBIDDEN_IMPORTS)
  set(FORBIDDEN_IMPORTS "^(libstdc\\+\\+|libgcc_s|libwinpthread|libssp|libgomp|libatomic)[-_.0-9a-z]*\\.dll$")
endif()

execute_process(COMMAND "${OBJDUMP}" -p "${PE_FILE}"
  OUTPUT_VARIABLE dump ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${PE_FILE} failed (${rc}): ${err}")
endif()
string(REPLACE "\r" "" dump "${dump}")
string(REPLACE ";" "\\;" dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")

set(imports "")
set(section "")
set(base "")
set(address_count 0)
set(exports "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*DLL Name: (.+)$")
    list(APPEND imports "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^Export Address Table -- Ordinal Base ([0-9]+)")
    set(base "${CMAKE_MATCH_1}")
    set(section addresses)
  elseif(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(section names)
  elseif(line MATCHES "^[ \t]*$")
    set(section "")
  elseif(section STREQUAL "addresses" AND line MATCHES "^[ \t]*\\[ *[0-9]+\\]")
    math(EXPR address_count "${address_count} + 1")
  elseif(section STREQUAL "names" AND line MATCHES "^[ \t]*\\[ *([0-9]+)\\] (.+)$")
    math(EXPR ordinal "${base} + ${CMAKE_MATCH_1}")
    list(APPEND exports "${ordinal}:${CMAKE_MATCH_2}")
  endif()
endforeach()

set(failures "")
foreach(dll IN LISTS imports)
  string(TOLOWER "${dll}" lower)
  if(lower MATCHES "${FORBIDDEN_IMPORTS}")
    list(APPEND failures "imports ${dll} (not a system DLL: link with -static -static-libgcc -static-libstdc++)")
  endif()
endforeach()

if(DEFINED EXPECT_EXPORTS)
  set(expected ${EXPECT_EXPORTS})
  list(SORT expected)
  set(actual ${exports})
  list(SORT actual)
  if(NOT actual STREQUAL expected)
    string(JOIN ", " actual_text ${actual})
    string(JOIN ", " expected_text ${expected})
    list(APPEND failures "exports are [${actual_text}], expected [${expected_text}]")
  endif()
  list(LENGTH exports named_count)
  if(NOT address_count EQUAL named_count)
    list(APPEND failures "${address_count} exports in the address table, ${named_count} with names")
  endif()
endif()

if(failures)
  string(REPLACE ";" "\n  " failures "${failures}")
  message(FATAL_ERROR "${PE_FILE}:\n  ${failures}")
endif()
string(REPLACE ";" ", " imports "${imports}")
string(REPLACE ";" ", " exports "${exports}")
message(STATUS "${PE_FILE}: imports ${imports}; exports ${exports}")
