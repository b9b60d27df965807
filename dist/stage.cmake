# Run by `cmake --install` (and so by CPack); see cmake/KoralPackaging.cmake. KORAL_STAGE:
#   epoch  first of all: fixes the release's time for the rest of the install, strip included
#          (it stamps a PE file with SOURCE_DATE_EPOCH, else with the time it runs);
#   zip    after the files: the checksums, then every time stamp the release's;
#   deb    after the files: compressed man pages and the changelog.
# Everything made here depends only on the commit.
cmake_policy(VERSION 3.25)  # install scripts start with every policy unset
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

if(KORAL_STAGE STREQUAL "epoch")
  # SOURCE_DATE_EPOCH when given, else the commit's time, else 1980-01-01 (the earliest a zip entry
  # can carry).
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  if(NOT epoch MATCHES "^[0-9]+$")
    execute_process(COMMAND git -C "${KORAL_SOURCE_DIR}" log -1 --format=%ct OUTPUT_VARIABLE epoch
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
    if(failed OR NOT epoch MATCHES "^[0-9]+$")
      set(epoch 315532800)
    endif()
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})  # strip, string(TIMESTAMP) and the stages below read it
  return()
endif()
set(epoch "$ENV{SOURCE_DATE_EPOCH}")

# gzip -9n: no name and no time in the header.
function(koral_gzip from to)
  get_filename_component(dir "${to}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  execute_process(COMMAND gzip -9nc "${from}" OUTPUT_FILE "${to}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${from} failed")
  endif()
  message(STATUS "Installing: ${to}")
endfunction()

if(KORAL_STAGE STREQUAL "zip")
  file(GLOB files RELATIVE "${root}" "${root}/*")
  list(REMOVE_ITEM files SHA256SUMS)
  list(SORT files)
  set(sums "")
  foreach(f IN LISTS files)
    file(SHA256 "${root}/${f}" hash)
    string(APPEND sums "${hash}  ${f}\n")  # the sha256sum format: sha256sum -c SHA256SUMS
  endforeach()
  file(WRITE "${root}/SHA256SUMS" "${sums}")
  file(CHMOD "${root}/SHA256SUMS" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  message(STATUS "Installing: ${root}/SHA256SUMS")
  file(GLOB_RECURSE all LIST_DIRECTORIES true "${root}/*")
  execute_process(COMMAND touch -h -d @${epoch} "${root}" ${all} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "could not set the time stamps under ${root}")
  endif()
elseif(KORAL_STAGE STREQUAL "deb")
  foreach(page IN LISTS KORAL_MAN_PAGES)
    get_filename_component(name "${page}" NAME)
    koral_gzip("${page}" "${root}/${KORAL_MAN_DIR}/${name}.gz")
  endforeach()
  # A native package's changelog, which Debian wants beside the copyright file.
  string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  string(REGEX MATCH "^([0-9]+\\.[0-9]+\\.[0-9]+)\\.([0-9]+)$" _ "${KORAL_VERSION}")
  file(WRITE "${root}/${KORAL_DOC_DIR}/changelog"
       "koralloader (${KORAL_VERSION}) stable; urgency=medium\n\n"
       "  * KoralLoader ${CMAKE_MATCH_1}, build ${CMAKE_MATCH_2}.\n\n"
       " -- Zantir KoralLoader team <koralloader@zantir.example>  ${date}\n")
  koral_gzip("${root}/${KORAL_DOC_DIR}/changelog" "${root}/${KORAL_DOC_DIR}/changelog.gz")
  file(REMOVE "${root}/${KORAL_DOC_DIR}/changelog")
else()
  message(FATAL_ERROR "dist/stage.cmake: unknown KORAL_STAGE \"${KORAL_STAGE}\"")
endif()
