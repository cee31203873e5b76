# Run by CPack after the install into its staging folder, before the package is made:
# removes the compiler's .comment and .note sections from the executables, as Debian's
# own packaging does (CPACK_STRIP_FILES only strips the symbols).
file(GLOB_RECURSE _programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
list(FILTER _programs INCLUDE REGEX "/bin/[^/]+$")
foreach(_program IN LISTS _programs)
  execute_process(
    COMMAND ${CPACK_MARQUELL_STRIP} --remove-section=.comment --remove-section=.note ${_program}
    RESULT_VARIABLE _status)
  if(NOT _status EQUAL 0)
    message(FATAL_ERROR "could not strip ${_program}")
  endif()
endforeach()
