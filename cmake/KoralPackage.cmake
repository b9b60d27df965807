# The firmware release in res/package/, as resources FIRMWARE/1..5, and a build step that refuses
# a release breaking its invariants. Executables embed it with
#   koral_embed_resources(<exe> ${KORAL_PACKAGE_RESOURCES})
# and depend on koral_package_check.
set(KORAL_PACKAGE_DIR ${PROJECT_SOURCE_DIR}/res/package)
set(KORAL_PACKAGE_RESOURCES
  FIRMWARE 1 ${KORAL_PACKAGE_DIR}/image.txt
  FIRMWARE 2 ${KORAL_PACKAGE_DIR}/identity.txt
  FIRMWARE 3 ${KORAL_PACKAGE_DIR}/blank_key.txt
  FIRMWARE 4 ${KORAL_PACKAGE_DIR}/model_key.txt
  FIRMWARE 5 ${KORAL_PACKAGE_DIR}/blank_infoa.txt)

set(stamp ${PROJECT_BINARY_DIR}/package_checked.stamp)
add_custom_command(
  OUTPUT ${stamp}
  COMMAND ${CMAKE_COMMAND} -DDIR=${KORAL_PACKAGE_DIR} -P ${PROJECT_SOURCE_DIR}/cmake/check_package.cmake
  COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
  DEPENDS ${KORAL_PACKAGE_DIR}/image.txt ${KORAL_PACKAGE_DIR}/identity.txt ${KORAL_PACKAGE_DIR}/blank_key.txt
          ${KORAL_PACKAGE_DIR}/model_key.txt ${KORAL_PACKAGE_DIR}/blank_infoa.txt
          ${PROJECT_SOURCE_DIR}/cmake/check_package.cmake
  COMMENT "Checking the firmware release in res/package"
  VERBATIM)
add_custom_target(koral_package_check ALL DEPENDS ${stamp})
