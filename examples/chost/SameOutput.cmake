# Runs hosts A and B on FRAME and fails unless they print the same text.
execute_process(COMMAND ${A} ${FRAME} OUTPUT_VARIABLE a RESULT_VARIABLE ra)
execute_process(COMMAND ${B} ${FRAME} OUTPUT_VARIABLE b RESULT_VARIABLE rb)
if(NOT ra EQUAL 0 OR NOT rb EQUAL 0 OR NOT a STREQUAL b)
  message(FATAL_ERROR "outputs differ (exit ${ra} / ${rb}):\n${a}\n---\n${b}")
endif()
