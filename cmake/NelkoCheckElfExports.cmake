# Checks that a shared object's dynamic symbol table defines exactly the given names; run
# with cmake -P, e.g. as a test:
#
#   add_test(NAME so_exports COMMAND ${CMAKE_COMMAND} -DELF_FILE=$<TARGET_FILE:MyLib>
#     -DNM=${CMAKE_NM} -DEXPECT_EXPORTS=NameA,NameB -P ${PROJECT_SOURCE_DIR}/cmake/NelkoCheckElfExports.cmake)
#
# ELF_FILE         file to check (required)
# NM               nm that reads it (default: nm)
# EXPECT_EXPORTS   the complete list of defined dynamic symbols, comma-separated (required)
if(NOT ELF_FILE OR NOT DEFINED EXPECT_EXPORTS)
  message(FATAL_ERROR "ELF_FILE and EXPECT_EXPORTS must be set")
endif()
if(NOT NM)
  set(NM nm)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/NelkoToolOutput.cmake)
nelko_tool_lines(lines "${NM}" -D --defined-only "${ELF_FILE}")
set(found "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] (.+)$")
    list(APPEND found "${CMAKE_MATCH_1}")
  endif()
endforeach()

string(REPLACE "," ";" expected "${EXPECT_EXPORTS}")
set(extra ${found})
list(REMOVE_ITEM extra ${expected})
set(missing ${expected})
list(REMOVE_ITEM missing ${found})
if(extra OR missing)
  list(JOIN extra "\n  " extra_text)
  list(JOIN missing "\n  " missing_text)
  message(FATAL_ERROR "${ELF_FILE}: dynamic symbol table differs\nunexpected:\n  ${extra_text}\nmissing:\n  ${missing_text}")
endif()
list(LENGTH found count)
message(STATUS "${ELF_FILE}: exactly the ${count} expected dynamic symbols")
