# Passes when PROGRAM, run with ARGS ("|" between arguments), ends with status 2, prints
# its usage on standard error and nothing on standard output (nothing was measured).
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND "${PROGRAM}" ${args} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
  TIMEOUT 60)
if(NOT status STREQUAL "2")
  message(FATAL_ERROR "${PROGRAM} ${ARGS}: status ${status}, not 2\nstdout: ${out}\nstderr: ${err}")
endif()
if(NOT err MATCHES "usage: ")
  message(FATAL_ERROR "${PROGRAM} ${ARGS}: no usage on standard error: ${err}")
endif()
if(NOT out STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} ${ARGS}: printed on standard output: ${out}")
endif()
