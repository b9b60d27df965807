# koral_embed_resources(<target> TYPE ID FILE [TYPE ID FILE ...])
#
# Gives <target> the named files as resources of the given type and integer id, with their exact
# bytes. FILE may also name a target of this build (a DLL, say): its output file is embedded. Windows: a generated .rc compiled by windres (FindResourceA finds them). Elsewhere: a
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
    if(TARGET ${file})
      list(APPEND files ${file})  # rebuilt and re-embedded whenever that target changes
      set(file "$<TARGET_FILE:${file}>")
    else()
      get_filename_component(file "${file}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
      list(APPEND files "${file}")
    endif()
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

# koral_dialogs_rc(<out-var> <folder>)
#
# A build step that turns res/dialogs/dialogs.def into <folder>/dialogs.rc, DIALOGEX resources
# for windres; <out-var> names the generated file.
set(KORAL_DIALOGS_DEF ${PROJECT_SOURCE_DIR}/res/dialogs/dialogs.def)
set(KORAL_DIALOGS_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/dialogs_rc.cmake)
function(koral_dialogs_rc out folder)
  set(rc ${folder}/dialogs.rc)
  add_custom_command(
    OUTPUT ${rc}
    COMMAND ${CMAKE_COMMAND} -DDEF=${KORAL_DIALOGS_DEF} -DOUT=${rc} -P ${KORAL_DIALOGS_SCRIPT}
    DEPENDS ${KORAL_DIALOGS_DEF} ${KORAL_DIALOGS_SCRIPT}
    COMMENT "Generating the dialog resources from res/dialogs/dialogs.def"
    VERBATIM)
  set(${out} ${rc} PARENT_SCOPE)
endfunction()

# The files res/wizard.rc takes in (windres reports none of them to the build).
set(KORAL_WIZARD_RESOURCE_FILES
  ${PROJECT_SOURCE_DIR}/res/images/mainframe.ico
  ${PROJECT_SOURCE_DIR}/res/images/done.ico
  ${PROJECT_SOURCE_DIR}/res/images/failed.ico
  ${PROJECT_SOURCE_DIR}/res/images/unsure.ico
  ${PROJECT_SOURCE_DIR}/res/images/busy.ico
  ${PROJECT_SOURCE_DIR}/res/images/sidebar.bmp
  ${KORAL_GENERATED_DIR}/res/KoralLoader.exe.manifest)

# koral_add_wizard_resources(<exe>)
#
# What the Windows wizard shows: the dialogs generated from res/dialogs/dialogs.def, the icons,
# the side bitmap and the manifest (res/wizard.rc). Nothing elsewhere: the other backends draw
# from the templates themselves. The package, DLL 6 and the version block come separately.
function(koral_add_wizard_resources target)
  if(NOT WIN32)
    return()
  endif()
  koral_dialogs_rc(dialogs_rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_dialogs)
  set(wizard_rc ${PROJECT_SOURCE_DIR}/res/wizard.rc)
  set_property(SOURCE ${wizard_rc} APPEND PROPERTY OBJECT_DEPENDS ${KORAL_WIZARD_RESOURCE_FILES})
  target_sources(${target} PRIVATE ${dialogs_rc} ${wizard_rc})
endfunction()
