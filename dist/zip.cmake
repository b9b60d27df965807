# CPack's post-build step for the Windows archive: CPack's own ZIP lists the files in the order the
# file system returns them and records the builder's user id and time zone. Remade here with
# Info-ZIP, the archive depends on the staged files alone: names in byte order, no extra fields,
# DOS times in UTC (dist/stage.cmake has set every time stamp to the release's).
cmake_policy(VERSION 3.25)
get_filename_component(parent "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY)
foreach(archive IN LISTS CPACK_PACKAGE_FILES)
  if(NOT archive MATCHES "\\.zip$")
    continue()
  endif()
  file(GLOB_RECURSE files RELATIVE "${parent}" "${CPACK_TEMPORARY_DIRECTORY}/*")
  list(SORT files)
  file(REMOVE "${archive}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC zip -X -9 -q "${archive}" ${files}
                  WORKING_DIRECTORY "${parent}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "zip failed (${failed}) making ${archive}")
  endif()
endforeach()
