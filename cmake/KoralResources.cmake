# koral_embed_resources(<target> TYPE ID FILE [TYPE ID FILE ...])
#
# Gives <target> the named files as resources of the given type and integer id, with their exact
# bytes. Windows: a generated .rc compiled by windres (FindResourceA finds them). Elsewhere: a
# generated C++ table registered with platform::registerResources at static-init time. Add the
# resources to an executable, never to a static library (its initialiser could be dropped).
set(KORAL_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/embed_resources.cmake)

function(koral_embed_resources target)
  set(entries ${ARGN})
  list(LENGTH entries n)
  math(EXPR rem "${n} % 3")
  if(n EQUAL 0 OR NOT rem EQUAL 0)
    message(FATAL_ERROR "koral_embed_resources: expected TYPE ID FILE triples")
  endif()
  set(files "")
  set(entries_text "")
  math(EXPR last "${n} - 1")
  foreach(i RANGE 0 ${last} 3)
    math(EXPR j "${i} + 1")
    math(EXPR k "${i} + 2")
    list(GET entries ${i} type)
    list(GET entries ${j} id)
    list(GET entries ${k} file)
    get_filename_component(file "${file}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND files "${file}")
    string(APPEND entries_text "${type}|${id}|${file};")
  endforeach()

  set(outdir ${CMAKE_CURRENT_BINARY_DIR}/${target}_res)
  if(WIN32)
    set(out ${outdir}/resources.rc)
  else()
    set(out ${outdir}/resources.cpp)
  endif()
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} "-DENTRIES=${entries_text}" "-DOUT=${out}" "-DWIN32_RC=${WIN32}" -P ${KORAL_EMBED_SCRIPT}
    DEPENDS ${files} ${KORAL_EMBED_SCRIPT}
    COMMENT "Embedding resources into ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()
