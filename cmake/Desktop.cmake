# What a desktop needs of an installed program: the menu entry, metainfo and
# manual page of the window (with the window), the icons in every hicolor
# size, the HTML help.
if(TARGET kestrel)
  install(FILES ${CMAKE_SOURCE_DIR}/data/org.kestrel.Kestrel.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/data/org.kestrel.Kestrel.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  kestrel_compressed_manpage(${CMAKE_SOURCE_DIR}/data/kestrel.1 kestrel-manpage)
endif()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/icons/hicolor
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
if(EXISTS ${CMAKE_SOURCE_DIR}/docs/help)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/help/
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrel/html)
endif()

# A build tree's program finds its icon beside itself (and its help, which
# the window's build copies).
file(COPY ${CMAKE_SOURCE_DIR}/data/icons/hicolor/256x256/apps/kestrel.png
  DESTINATION ${KESTREL_BIN_DIR})
