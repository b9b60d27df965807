# What `cmake --install` puts where, and the release artefacts CPack makes of it:
#   Linux:   cpack -G DEB  ->  koralloader_<version>_<arch>.deb
#   Windows: cpack -G ZIP  ->  KoralLoader-<version>-win32.zip
# <version> is PROJECT_VERSION, read from res/version/VERSION. Files made at install time (the
# checksums, the changelog, compressed man pages) come from dist/stage.cmake, so that an install
# and both packages hold the same bytes.
set(KORAL_STAGE_SCRIPT ${PROJECT_SOURCE_DIR}/dist/stage.cmake)

set(CPACK_PACKAGE_VENDOR "Zantir")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware upload wizard for KORAL VKT instruments")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

install(CODE "set(KORAL_STAGE epoch)\nset(KORAL_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")\ninclude(\"${KORAL_STAGE_SCRIPT}\")")
if(WIN32)
  install(TARGETS KoralLoader koralbsl RUNTIME DESTINATION .)
  # Notepad of every Windows version reads CR LF.
  configure_file(${PROJECT_SOURCE_DIR}/dist/windows/README.txt ${PROJECT_BINARY_DIR}/dist/README.txt @ONLY
                 NEWLINE_STYLE WIN32)
  install(FILES ${PROJECT_BINARY_DIR}/dist/README.txt DESTINATION .)
  # After the files above: the checksums cover them, then every time stamp is the release's.
  install(CODE "set(KORAL_STAGE zip)\ninclude(\"${KORAL_STAGE_SCRIPT}\")")

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME KoralLoader)
  set(CPACK_PACKAGE_FILE_NAME KoralLoader-${PROJECT_VERSION}-win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/dist/zip.cmake)
else()
  include(GNUInstallDirs)
  install(TARGETS koralloader koralbsl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(KORAL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/koralloader)  # the package's name, as Debian wants

  # The system's udev rules folder (/lib/udev on Debian 12), whatever the install prefix: udev
  # reads rules nowhere else that a package may own.
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_get_variable(KORAL_UDEV_DIR udev udevdir)
  endif()
  if(NOT KORAL_UDEV_DIR)
    set(KORAL_UDEV_DIR /lib/udev)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/tools/udev/70-koral-cp210x.rules DESTINATION ${KORAL_UDEV_DIR}/rules.d)

  # Tells software centres which devices the rules are for.
  install(FILES ${PROJECT_SOURCE_DIR}/dist/debian/koralloader.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)

  foreach(page koralloader koralbsl)
    configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${PROJECT_BINARY_DIR}/dist/man/${page}.1 @ONLY)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/dist/debian/copyright
          DESTINATION ${KORAL_DOC_DIR})
  string(CONCAT stage "set(KORAL_STAGE deb)\n"
         "set(KORAL_VERSION \"${PROJECT_VERSION}\")\nset(KORAL_DOC_DIR \"${KORAL_DOC_DIR}\")\n"
         "set(KORAL_MAN_PAGES \"${PROJECT_BINARY_DIR}/dist/man/koralloader.1;${PROJECT_BINARY_DIR}/dist/man/koralbsl.1\")\n"
         "set(KORAL_MAN_DIR \"${CMAKE_INSTALL_MANDIR}/man1\")\ninclude(\"${KORAL_STAGE_SCRIPT}\")")
  install(CODE "${stage}")

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME koralloader)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
  if(NOT arch)
    set(arch amd64)
  endif()
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${arch})
  set(CPACK_DEBIAN_FILE_NAME koralloader_${PROJECT_VERSION}_${arch}.deb)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Zantir KoralLoader team <koralloader@zantir.example>")
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "KoralLoader writes the firmware release it carries into a KORAL VKT instrument\n"
      "(an MSP430 behind a CP210x USB-to-UART bridge) through the MSP430 serial\n"
      "bootstrap loader, keeping the instrument's calibration segment InfoA: it backs\n"
      "InfoA up, keeps it across the mass erase and checks it afterwards.\n"
      "\n"
      "The package holds the wizard koralloader (drawn in the terminal), the console\n"
      "tool koralbsl, and udev rules that give the desktop user the bridge.")
  string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/dist/debian/postinst
                                         ${PROJECT_SOURCE_DIR}/dist/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
