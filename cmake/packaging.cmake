# Installation and the Debian package (./dev package -> build/t83tool_<version>_amd64.deb).
include(GNUInstallDirs)

# A program run from the build tree finds the user guide in the source tree.
target_compile_definitions(t83core PRIVATE
  T83_SOURCE_GUIDE="${CMAKE_SOURCE_DIR}/docs/guide/index.html")

install(TARGETS t83tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET t83sim)
  install(TARGETS t83sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(T83_APP_ID org.norvik.t83tool)
install(FILES packaging/${T83_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(packaging/${T83_APP_ID}.metainfo.xml.in
  ${CMAKE_BINARY_DIR}/${T83_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/${T83_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES packaging/icons/t83tool-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME t83tool.png)
endforeach()
# The guide and its screenshots: <prefix>/share/doc/t83tool/guide, where F1 looks.
install(FILES docs/guide/index.html DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/t83tool/guide)
file(GLOB T83_SCREENSHOTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/screenshots/*.png)
install(FILES ${T83_SCREENSHOTS}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/t83tool/guide/screenshots)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME t83tool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "t83tool developers <t83tool@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Set up and test T83 radio data-transceiver modules over a serial port")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without the font every caption is boxes; without Qt's translations the standard
# buttons are English; the SVG plug-in for the icon theme the dev set-up installs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "fonts-wqy-zenhei, qt6-translations-l10n, libqt6svg6, libqt6sql6-sqlite")
set(CPACK_STRIP_FILES ON)
include(CPack)
