# koral_add_leaf_folders(): adds every folder below the current one that has a CMakeLists.txt,
# in name order, so a new test, tool or fuzzer is one new folder.
function(koral_add_leaf_folders)
  file(GLOB_RECURSE lists RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  list(SORT lists)
  foreach(file IN LISTS lists)
    get_filename_component(dir ${file} DIRECTORY)
    add_subdirectory(${dir})
  endforeach()
endfunction()
