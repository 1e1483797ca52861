# cmake -DGZIP=gzip -DINPUT=page.1 -DOUTPUT=page.1.gz -P gzip.cmake
# Compresses INPUT with neither file name nor time stamp in the header.
execute_process(
  COMMAND ${GZIP} -9n -c ${INPUT}
  OUTPUT_FILE ${OUTPUT}.part
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${OUTPUT}.part)
  message(FATAL_ERROR "${GZIP} failed on ${INPUT}: ${result}")
endif()
file(RENAME ${OUTPUT}.part ${OUTPUT})
