# Installing: `cmake --install BUILD --prefix P` lays Varnex out as Linux
# programs are laid out. The programs find their read-only data in
# ../share/varnex relative to themselves (foundation/ProgramDir.cpp).
#
#   P/bin/                      Varnex, varnex-cli, VarnexShell, varnex-update
#                               (the updater, "update" in a portable folder)
#   P/lib/<multiarch>/          libPavane.so.N (the controls library)
#   P/share/varnex/             Lang/, Skin/, Tamsin/, lang/ (help), sample/,
#                               shellext/ (the context menus and their installer)
#   P/share/applications/       org.varnex.Varnex.desktop
#   P/share/icons/hicolor/      the icon, scalable and in PNG sizes
#   P/share/mime/packages/      the .bcd type
#   P/share/metainfo/           the AppStream description
#   P/share/man/man1/           Varnex.1.gz, varnex-cli.1.gz, varnex-update.1.gz
#   P/share/doc/varnex/         copyright, changelog.gz
#   P/share/bash-completion/completions/varnex-cli
#
# VARNEX_INSTALL_RPATH (on) lets the installed Varnex find libPavane in any
# prefix; the Debian package, installed into the system's library folder,
# turns it off.
option(VARNEX_INSTALL_RPATH "Installed programs find the controls library relative to themselves" ON)

set(VARNEX_LIBDIR lib)
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(VARNEX_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
endif()
set(VARNEX_DATADIR share/varnex)
set(VARNEX_APP_ID org.varnex.Varnex)

install(TARGETS varnex-cli RUNTIME DESTINATION bin)
install(TARGETS VarnexShell RUNTIME DESTINATION bin)
# The file managers' menus are the user's to put in place:
# share/varnex/shellext/install-desktop-integration.sh [--remove].
install(DIRECTORY ${CMAKE_SOURCE_DIR}/shellext/menus DESTINATION ${VARNEX_DATADIR}/shellext)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/install-desktop-integration.sh DESTINATION ${VARNEX_DATADIR}/shellext)

if(TARGET Varnex)
  if(VARNEX_INSTALL_RPATH)
    set_target_properties(Varnex PROPERTIES INSTALL_RPATH "$ORIGIN/../${VARNEX_LIBDIR}")
  else()
    set_target_properties(Varnex PROPERTIES INSTALL_RPATH "")
  endif()
  set_target_properties(Pavane PROPERTIES INSTALL_RPATH "")
  install(TARGETS Varnex RUNTIME DESTINATION bin)
  # The updater keeps its design name beside the programs of a portable copy;
  # installed among the system's programs it takes a name of its own. An
  # installed copy is updated by its package manager: the updater then says so.
  if(VARNEX_INSTALL_RPATH)
    set_target_properties(update PROPERTIES BUILD_RPATH "$ORIGIN;$ORIGIN/../${VARNEX_LIBDIR}")
  endif()
  install(PROGRAMS $<TARGET_FILE:update> DESTINATION bin RENAME varnex-update)
  install(TARGETS Pavane LIBRARY DESTINATION ${VARNEX_LIBDIR} NAMELINK_SKIP)

  # The icon in the sizes of the hicolor theme, drawn by the skin generator.
  set(ICON_DIR ${CMAKE_BINARY_DIR}/icons)
  add_custom_command(OUTPUT ${ICON_DIR}/256x256/apps/${VARNEX_APP_ID}.png
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:MakeSkin> --icons ${ICON_DIR} ${VARNEX_APP_ID}
    DEPENDS MakeSkin
    COMMENT "Drawing the icon")
  add_custom_target(varnex_icons ALL DEPENDS ${ICON_DIR}/256x256/apps/${VARNEX_APP_ID}.png)
  install(DIRECTORY ${ICON_DIR}/ DESTINATION share/icons/hicolor)

  # Manual pages from the programs' own help text.
  set(MAN_DIR ${CMAKE_BINARY_DIR}/man)
  add_custom_command(OUTPUT ${MAN_DIR}/varnex-cli.1.gz ${MAN_DIR}/Varnex.1.gz ${MAN_DIR}/varnex-update.1.gz
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-man.sh ${VARNEX_BIN_DIR} ${MAN_DIR} ${PROJECT_VERSION}
    DEPENDS varnex-cli Varnex update ${CMAKE_SOURCE_DIR}/scripts/make-man.sh
    COMMENT "Writing the manual pages")
  add_custom_target(varnex_man ALL DEPENDS ${MAN_DIR}/varnex-cli.1.gz ${MAN_DIR}/Varnex.1.gz ${MAN_DIR}/varnex-update.1.gz)
  install(FILES ${MAN_DIR}/varnex-cli.1.gz ${MAN_DIR}/Varnex.1.gz ${MAN_DIR}/varnex-update.1.gz DESTINATION share/man/man1)
endif()

install(DIRECTORY ${VARNEX_BIN_DIR}/Lang ${VARNEX_BIN_DIR}/Skin ${VARNEX_BIN_DIR}/lang DESTINATION ${VARNEX_DATADIR})
install(DIRECTORY ${VARNEX_BIN_DIR}/Tamsin DESTINATION ${VARNEX_DATADIR} OPTIONAL)
install(DIRECTORY ${VARNEX_BIN_DIR}/TamsinEx DESTINATION ${VARNEX_DATADIR} OPTIONAL)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/sample DESTINATION ${VARNEX_DATADIR})
install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/${VARNEX_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/${VARNEX_APP_ID}.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/varnex-project.xml DESTINATION share/mime/packages)
install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/${VARNEX_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/data/completion/varnex-cli DESTINATION share/bash-completion/completions)

# The package's documents: the copyright and the changelog (compressed, as
# Debian keeps them).
set(CHANGELOG_GZ ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${CHANGELOG_GZ}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/data/doc/changelog > ${CHANGELOG_GZ}
  DEPENDS ${CMAKE_SOURCE_DIR}/data/doc/changelog
  COMMENT "Compressing the changelog")
add_custom_target(varnex_changelog ALL DEPENDS ${CHANGELOG_GZ})
install(FILES ${CMAKE_SOURCE_DIR}/data/doc/copyright ${CHANGELOG_GZ} DESTINATION share/doc/varnex)

# The Debian package (scripts/package.sh). libPavane's shlibs entry and the
# ldconfig trigger come with it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Varnex developers <varnex@varnex.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write data, audio and video discs")
set(CPACK_PACKAGE_DESCRIPTION "Varnex assembles data and MP3 discs and writes them to CD, DVD and
Blu-ray recorders, to image files and to virtual recorders. It appends
sessions, burns ISO, BIN/CUE and NRG images and erases rewritable discs.
varnex-cli does the same from the command line.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The library cache is refreshed through dpkg's ldconfig trigger, not by
# maintainer scripts of their own.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/data/debian/triggers ${CMAKE_SOURCE_DIR}/data/debian/postinst ${CMAKE_SOURCE_DIR}/data/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg, mjpegtools, dvdauthor")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://varnex.org/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
