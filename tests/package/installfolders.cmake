# Configures the project afresh with a custom CMAKE_INSTALL_BINDIR and checks that both
# programs install to it: the application starts the daemon from beside itself.
#   cmake -DSOURCE=<project> -DSCRATCH=<empty folder> -P installfolders.cmake
set(_bindir lib/marquell-programs)
file(REMOVE_RECURSE ${SCRATCH})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${SCRATCH} -DCMAKE_INSTALL_BINDIR=${_bindir}
          -DMARQUELL_BENCH=OFF
  OUTPUT_QUIET RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
  message(FATAL_ERROR "configuring ${SOURCE} into ${SCRATCH} failed")
endif()
foreach(_program Marquell MarquellDaemon)
  file(GLOB_RECURSE _scripts ${SCRATCH}/cmake_install.cmake)
  set(_found "")
  foreach(_script IN LISTS _scripts)
    file(STRINGS ${_script} _lines REGEX "file\\(INSTALL .*TYPE EXECUTABLE .*/${_program}\"")
    list(APPEND _found ${_lines})
  endforeach()
  if(NOT _found MATCHES "/${_bindir}\" TYPE EXECUTABLE")
    message(FATAL_ERROR "${_program} does not install to ${_bindir}: ${_found}")
  endif()
endforeach()
