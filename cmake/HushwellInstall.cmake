# Installation into the usual places of the prefix, and the Debian package built from the same
# rules with CPack. Windows has its own layout and packages.
if(WIN32)
  include(HushwellWindowsInstall)
  return()
endif()

include(GNUInstallDirs)

set(HUSHWELL_ID io.github.hushwell.Hushwell)

install(TARGETS hushwell RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The program finds this beside its bin folder and keeps its settings in the user's folder, even
# where it could write to bin (root, or a prefix the user owns).
install(FILES data/installed.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/hushwell)

if(UNIX AND NOT APPLE)
  set(generated ${CMAKE_BINARY_DIR}/data)

  add_executable(make_icons tools/MakeIcons.cpp)
  target_link_libraries(make_icons PRIVATE hushwell_ui)
  add_custom_command(OUTPUT ${generated}/icons/256x256/apps/${HUSHWELL_ID}.png
    COMMAND make_icons ${generated}/icons
    DEPENDS make_icons
    COMMENT "Drawing the icon in the theme's sizes")
  find_program(GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${generated}/hushwell.1.gz ${generated}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}
    COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/data/hushwell.1 > ${generated}/hushwell.1.gz
    COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/data/changelog > ${generated}/changelog.gz
    DEPENDS data/hushwell.1 data/changelog)
  add_custom_target(hushwell_data ALL DEPENDS ${generated}/icons/256x256/apps/${HUSHWELL_ID}.png
                                              ${generated}/hushwell.1.gz)

  install(FILES data/${HUSHWELL_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES data/${HUSHWELL_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES data/${HUSHWELL_ID}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(DIRECTORY ${generated}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
  install(FILES ${generated}/hushwell.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES data/copyright ${generated}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/hushwell)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hushwell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Hushwell developers <hushwell@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn radio commercial breaks down on a schedule")
set(CPACK_PACKAGE_DESCRIPTION
    "Commercial breaks on online radio stations tend to fall at the same minutes
of every hour. Hushwell holds the system volume at a Down level while the time
lies inside one of up to eight minute:second pairs, and at an Up level
otherwise, through PulseAudio, PipeWire or ALSA.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies are worked out by dpkg-shlibdeps from the libraries the program links (Debian's
# libqt6gui6 carries the xcb platform plugin that Qt loads at run time).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/hushwell/hushwell")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
