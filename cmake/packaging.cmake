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

# Debian wants manual pages and the changelog compressed, without a name or time stamp
# in the header (gzip -9n), so the package is the same from build to build. They are
# compressed when CMake configures; editing one reruns it.
find_program(T83_GZIP gzip REQUIRED)
function(t83_install_gzipped source destination name)
  set(output ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${source})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
  execute_process(COMMAND ${T83_GZIP} -9nc ${CMAKE_SOURCE_DIR}/${source}
    OUTPUT_FILE ${output} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${source}: ${status}")
  endif()
  install(FILES ${output} DESTINATION ${destination})
endfunction()

# A manual page for each program (t83ctl itself is installed by cli/).
foreach(program t83tool t83sim t83ctl)
  t83_install_gzipped(packaging/man/${program}.1 ${CMAKE_INSTALL_MANDIR}/man1 ${program}.1)
endforeach()
install(FILES packaging/t83ctl.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME t83ctl)

# The package's changelog: its newest entry must be this version.
file(STRINGS packaging/changelog T83_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT T83_CHANGELOG_TOP MATCHES "^t83tool \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog starts with \"${T83_CHANGELOG_TOP}\": "
    "add an entry for version ${PROJECT_VERSION}")
endif()
set(T83_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/t83tool)
t83_install_gzipped(packaging/changelog ${T83_DOC_DIR} changelog)
install(FILES packaging/copyright DESTINATION ${T83_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME t83tool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Norvik t83tool maintainers <t83tool@norvik.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Set up and test T83 radio data-transceiver modules over a serial port")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "t83tool finds a T83 series radio data-transceiver module on a serial port,
reads and writes its twelve settings, configures its eight switch ports,
drives its test functions and carries data over the radio link (hex frames,
data strings and files), showing every byte received as hex or as text.
Its production station applies a profile to one module after another and
records each result in an SQLite or PostgreSQL database.

The package also holds t83ctl, the same operations from the command line
for scripts and production lines, and t83sim, a simulated module on a
pseudo-terminal for trying both without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without the font every caption is boxes; without Qt's translations the standard
# buttons are English; the SVG plug-in for the icon theme the dev set-up installs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "fonts-wqy-zenhei, qt6-translations-l10n, libqt6svg6, libqt6sql6-sqlite")
set(CPACK_STRIP_FILES ON)
include(CPack)
