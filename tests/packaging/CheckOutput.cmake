# cmake -DPROGRAM=<path> -DOPTION=<option> -DEXPECT=<regex> -P CheckOutput.cmake
# Passes when the program, run with the one option, exits 0 and its standard
# output matches EXPECT.
execute_process(COMMAND ${PROGRAM} ${OPTION}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ${OPTION}: exit status ${status}\n${err}")
endif()
if(NOT out MATCHES "${EXPECT}")
  message(FATAL_ERROR "${PROGRAM} ${OPTION} printed:\n${out}\nwhich does not match: ${EXPECT}")
endif()
