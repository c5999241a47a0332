# What `cmake --install` puts on a desktop: the program, its desktop entry, icons in the
# hicolor theme, the AppStream metainfo and the MIME type of raw SysEx files.
include(GNUInstallDirs)

set(PELROW_APP_ID org.example.pelrow.Pelrow)
set(data ${PROJECT_SOURCE_DIR}/data)

if(TARGET pelrow)
  install(TARGETS pelrow RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET pelrow-cli)
  install(TARGETS pelrow-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${data}/${PELROW_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${data}/${PELROW_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${data}/pelrow-sysex.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${data}/icons/pelrow.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES ${data}/icons/${size}x${size}/pelrow.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
