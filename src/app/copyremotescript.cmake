# cmake -DSOURCE=<folder> -DDESTINATION=<folder> -P copyremotescript.cmake
# Copies the Remote Script's Python files; a missing source folder leaves an empty
# destination, which the installer reports as a build missing its script.
file(MAKE_DIRECTORY "${DESTINATION}")
if(EXISTS "${SOURCE}")
  file(GLOB _files "${SOURCE}/*.py")
  foreach(_file IN LISTS _files)
    get_filename_component(_name "${_file}" NAME)
    file(COPY_FILE "${_file}" "${DESTINATION}/${_name}" ONLY_IF_DIFFERENT)
  endforeach()
endif()
