# Installing Velmora like any desktop application, and its Debian package.
#   cmake --install build --prefix P     the program, its country table, desktop entry, icons,
#                                        AppStream metadata, manual page and copyright
#   cd build && cpack                    velmora_<version>_<arch>.deb in build/
# Installed layout: P/bin/velmora finds its country table in P/share/velmora/, the same place
# relative to the program as in the build tree.

# The web and support addresses (VELMORA_WEBSITE, VELMORA_SUPPORT_MAIL) are set in
# CMakeLists.txt, since the program uses them too.
set(VELMORA_MAINTAINER "Velmora developers <packages@velmora.app>" CACHE STRING
    "Maintainer of the Debian package, as \"Name <address>\"")

# Sanitizer and fuzzing builds are for tests only; nothing of them is installed or packaged.
if(VELMORA_SANITIZE OR VELMORA_FUZZ)
  return()
endif()

include(GNUInstallDirs)

# The reverse-DNS application id names the desktop entry and the AppStream metadata. The
# icon keeps the program's name, which is also what the autostart entry asks for.
set(VELMORA_APP_ID app.velmora.Velmora)
set(VELMORA_ICON_SIZES 16 24 32 48 64 128 256 512)
set(VELMORA_RELEASE_DATE 2026-12-06)
set(VELMORA_RELEASE_DATE_RFC2822 "Sun, 06 Dec 2026 12:00:00 +0000")
set(VELMORA_COPYRIGHT_YEAR 2026)
# No licence has been chosen for the program itself yet.
set(VELMORA_PROJECT_LICENSE LicenseRef-proprietary)
set(VELMORA_GEOIP_DATA_VERSION 2.3.2026060120)
set(VELMORA_CLDR_VERSION 48.2.0)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(dist_in ${CMAKE_SOURCE_DIR}/dist)
set(dist_out ${CMAKE_BINARY_DIR}/dist)
configure_file(${dist_in}/${VELMORA_APP_ID}.metainfo.xml.in
               ${dist_out}/${VELMORA_APP_ID}.metainfo.xml @ONLY)
configure_file(${dist_in}/velmora.1.in ${dist_out}/velmora.1 @ONLY)
configure_file(${dist_in}/copyright.in ${dist_out}/copyright @ONLY)
configure_file(${dist_in}/changelog.in ${dist_out}/changelog @ONLY)

# The icons are drawn by the program itself, so they always match the window's mark.
set(icon_pngs)
foreach(size ${VELMORA_ICON_SIZES})
  set(dir ${dist_out}/icons/${size}x${size}/apps)
  add_custom_command(OUTPUT ${dir}/velmora.png
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND velmora --render-icon ${size} ${dir}/velmora.png
    DEPENDS velmora
    COMMENT "Rendering the ${size} px icon"
    VERBATIM)
  list(APPEND icon_pngs ${dir}/velmora.png)
  install(FILES ${dir}/velmora.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(velmora_icons ALL DEPENDS ${icon_pngs})

# The country table is built after the program by tools/setup.d/geoip.sh (setup.sh runs it).
install(CODE "
  if(NOT EXISTS \"${VELMORA_SHARE_DIR}/geoip.bin\")
    message(FATAL_ERROR \"${VELMORA_SHARE_DIR}/geoip.bin is missing: \"
                        \"run  bash tools/setup.d/geoip.sh ${CMAKE_BINARY_DIR}  first\")
  endif()")
install(TARGETS velmora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VELMORA_SHARE_DIR}/geoip.bin DESTINATION ${CMAKE_INSTALL_DATADIR}/velmora)
install(FILES ${dist_in}/${VELMORA_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${dist_out}/${VELMORA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${dist_out}/velmora.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${dist_out}/copyright ${dist_out}/changelog DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_CONTACT ${VELMORA_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live network traffic monitor for the desktop")
set(CPACK_PACKAGE_DESCRIPTION
"Velmora shows, live and without root, the traffic of every network device:
rates, totals, link state, addresses, wireless and hardware details. It lists
the open TCP and UDP connections with the programs that own them, groups remote
destinations by host and by country, and keeps the daily and monthly usage of
every device across restarts.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_PRE_BUILD_SCRIPTS ${dist_in}/deb-compress.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VELMORA_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VELMORA_WEBSITE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Card names come from the id databases; the interface needs fonts for its 83 languages.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pci.ids, usb.ids, fonts-noto-core | fonts-dejavu-core, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)

# Tests of the install tree and the package (tests/package_test.sh).
if(VELMORA_TESTS)
  set(pkg_test ${CMAKE_SOURCE_DIR}/tests/package_test.sh)
  set(pkg_work ${CMAKE_BINARY_DIR}/package-test)
  string(REPLACE ";" " " sizes "${VELMORA_ICON_SIZES}")
  foreach(step install tree window deb)
    add_test(NAME Package.${step}
             COMMAND bash ${pkg_test} ${step} ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${pkg_work})
    set_tests_properties(Package.${step} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300
      ENVIRONMENT "VELMORA_VERSION=${PROJECT_VERSION};VELMORA_APP_ID=${VELMORA_APP_ID};VELMORA_ICON_SIZES=${sizes};VELMORA_WEBSITE=${VELMORA_WEBSITE};VELMORA_SUPPORT_MAIL=${VELMORA_SUPPORT_MAIL};VELMORA_MAINTAINER=${VELMORA_MAINTAINER}")
  endforeach()
  set_tests_properties(Package.install PROPERTIES FIXTURES_SETUP velmora_installed)
  set_tests_properties(Package.tree Package.window Package.deb PROPERTIES
                       FIXTURES_REQUIRED velmora_installed)
endif()
