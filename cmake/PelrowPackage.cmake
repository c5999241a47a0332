# The Debian package (cpack -G DEB, see scripts/package): what `cmake --install`
# puts on a desktop, plus manual pages made from the programs' own --help and the
# files every Debian package carries in /usr/share/doc. Its dependencies are
# computed from the binaries by dpkg-shlibdeps, never written by hand.
include(GNUInstallDirs)

set(package_files ${PROJECT_BINARY_DIR}/package)
find_program(PELROW_HELP2MAN help2man)
find_program(PELROW_GZIP gzip)

set(man_pages)
# program:summary:the option that prints all of its help
set(man_names "pelrow:send and receive MIDI System Exclusive messages and bulk dumps:--help"
              "pelrow-cli:send, receive, check and convert MIDI System Exclusive dumps:--help-all")
if(PELROW_HELP2MAN AND PELROW_GZIP)
  foreach(entry IN LISTS man_names)
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 program)
    list(GET entry 1 summary)
    list(GET entry 2 help_option)
    if(NOT TARGET ${program})
      continue()
    endif()
    set(page ${package_files}/${program}.1)
    # gzip -n: no name or time stamp inside, so the page is the same every build.
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${package_files}
      COMMAND ${PELROW_HELP2MAN} --no-info --section=1 --name=${summary}
              --help-option=${help_option}
              --output=${page} $<TARGET_FILE:${program}>
      COMMAND ${PELROW_GZIP} -9nf ${page}
      DEPENDS ${program}
      COMMENT "Manual page of ${program}"
      VERBATIM)
    list(APPEND man_pages ${page}.gz)
  endforeach()
endif()

string(TIMESTAMP PELROW_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/data/debian/changelog.in ${package_files}/changelog @ONLY)
add_custom_command(
  OUTPUT ${package_files}/changelog.gz
  COMMAND ${PELROW_GZIP} -9nkf ${package_files}/changelog
  DEPENDS ${package_files}/changelog
  VERBATIM)

if(PELROW_GZIP)
  add_custom_target(pelrow_package_files ALL DEPENDS ${man_pages} ${package_files}/changelog.gz)
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${package_files}/changelog.gz ${PROJECT_SOURCE_DIR}/data/debian/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pelrow)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelrow)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Narvell)
set(CPACK_PACKAGE_CONTACT "Narvell <pelrow@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "send and receive MIDI System Exclusive messages and bulk dumps")
# The extended description; CPack indents its lines and puts the summary first.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Pelrow sends and receives MIDI data, above all System Exclusive messages and
bulk dumps, over the ALSA sequencer and JACK, with a built-in loopback port to
try it without hardware. Messages are typed as hexadecimal bytes or loaded
from files (.syx, .mid and .txt) and sent at a pace slow hardware can follow;
what arrives shows in the same notation. Dumps can be checked for cut messages
and checksum errors and saved as one file per message.

The package holds the window (pelrow) and the command-line program
(pelrow-cli), which runs the same jobs from scripts and terminals.")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://pelrow.example.org/)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # pelrow_VERSION_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
