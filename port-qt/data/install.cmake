# Desktop integration of the reader: the launcher entry, the application
# icon in the hicolor theme (a scalable one and PNGs for the usual sizes) and
# the thumbnailer entry through which file managers draw book covers.
include(GNUInstallDirs)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/orinel-reader.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../resources/icons/orinel-reader.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/icons/orinel-reader-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME orinel-reader.png)
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/orinel-reader.thumbnailer
        DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
