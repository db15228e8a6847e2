# Man pages, the Debian documents every package carries, and the .deb files that
# CPack builds (scripts/package): kelvo (the window), kelvo-cli and kelvo-sim.
include(GNUInstallDirs)

# Man pages and changelogs are installed compressed, as Debian wants them.
set(KELVO_MAN_PAGES kelvo.1 kelvo-cli.1 kelvo-instsim.1 kelvo-bench.5)
set(KELVO_COMPRESSED)
foreach(page ${KELVO_MAN_PAGES} changelog)
  if(page STREQUAL "changelog")
    set(source ${PROJECT_SOURCE_DIR}/doc/debian/changelog)
  else()
    set(source ${PROJECT_SOURCE_DIR}/doc/man/${page})
  endif()
  set(target ${CMAKE_BINARY_DIR}/doc/${page}.gz)
  add_custom_command(OUTPUT ${target}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
    COMMAND gzip -9nc ${source} > ${target}
    DEPENDS ${source} VERBATIM)
  list(APPEND KELVO_COMPRESSED ${target})
endforeach()
add_custom_target(kelvo_docs ALL DEPENDS ${KELVO_COMPRESSED})

set(man ${CMAKE_BINARY_DIR}/doc)
install(FILES ${man}/kelvo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT app)
install(FILES ${man}/kelvo-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
install(FILES ${man}/kelvo-instsim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT sim)
install(FILES ${man}/kelvo-bench.5.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man5 COMPONENT sim)
foreach(component app cli sim)
  if(component STREQUAL "app")
    set(package kelvo)
  else()
    set(package kelvo-${component})
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/doc/debian/copyright ${man}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvo)
set(CPACK_PACKAGE_VENDOR "the Kelvo developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kelvo developers <kelvo@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL app cli sim)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_APP_PACKAGE_NAME kelvo)
# The window's icon is an SVG: Qt reads it through a plugin dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_APP_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_APP_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_COMPONENT_APP_DESCRIPTION "command console for GPIB and TCP/IP instruments
Kelvo is a desktop command console for measuring instruments on an IEEE-488
(GPIB) bus, through the Linux GPIB driver library, or on a TCP/IP network.
Command lines send strings to an instrument, read its replies, send raw bus
bytes, poll, clear and trigger devices, and run command files with checks of
the replies; the window shows exactly what went over the bus.")

set(CPACK_DEBIAN_CLI_PACKAGE_NAME kelvo-cli)
set(CPACK_COMPONENT_CLI_DESCRIPTION "instrument console for scripts and CI (Kelvo)
kelvo-cli runs Kelvo's command language without a window: command lines from
standard input, or command files with an exit status that says whether their
checks passed and a JUnit report for CI servers.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME kelvo-sim)
set(CPACK_COMPONENT_SIM_DESCRIPTION "simulated GPIB and TCP/IP instruments for Kelvo
kelvo-instsim serves simulated instruments over TCP/IP: raw SCPI sockets and
VXI-11, LAN/GPIB gateways included, with a portmapper. The package also holds
a simulated GPIB bus behind the Linux GPIB driver's C interface, in a private
library directory (/usr/lib/kelvo/sim) so that it never stands in for a real
driver. Both read a bench file that describes the instruments.")

include(CPack)
