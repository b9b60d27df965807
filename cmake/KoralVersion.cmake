# The version, written once in res/version/VERSION (read before project()), made into what carries
# it: res/version/version.h (the version block, the Linux version section, --version) and the
# Windows manifest, both in KORAL_GENERATED_DIR, which every target sees like the tree root.
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/res/version/VERSION)
if(NOT PROJECT_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "res/version/VERSION must be major.minor.patch.build, not \"${PROJECT_VERSION}\"")
endif()
set(KORAL_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/res/version/version.h.in ${KORAL_GENERATED_DIR}/res/version/version.h @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/res/KoralLoader.exe.manifest.in ${KORAL_GENERATED_DIR}/res/KoralLoader.exe.manifest
               @ONLY)
target_include_directories(koral_options INTERFACE ${KORAL_GENERATED_DIR})
