# For the check scripts run with cmake -P: runs a tool and gives its standard output as a
# list of lines (carriage returns dropped, semicolons kept), or stops with its error.
#
#   nelko_tool_lines(lines "${OBJDUMP}" -p "${PE_FILE}")
function(nelko_tool_lines out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    string(JOIN " " command ${ARGN})
    message(FATAL_ERROR "${command} failed (${rc}): ${err}")
  endif()
  string(REPLACE "\r" "" text "${text}")
  string(REPLACE ";" "\\;" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
