# cmake -DSOURCE=<file> -DDESTINATION=<file.gz> -P gzipfile.cmake
# Debian wants manual pages and changelogs compressed at the highest level with no
# name or time stamp inside, so the package is the same from one build to the next.
execute_process(COMMAND gzip -9nc INPUT_FILE "${SOURCE}" OUTPUT_FILE "${DESTINATION}"
                RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
  message(FATAL_ERROR "gzip ${SOURCE}: ${_status}")
endif()
