# `cpack -G DEB` in the build folder makes kestrel_<version>_<arch>.deb. Its
# dependencies are the Debian 12 packages the program runs on.
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "kestrel")
set(CPACK_PACKAGE_CONTACT "kestrel maintainers <kestrel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Media to MP3 converter with a Chinese interface")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libc6, libstdc++6, libavformat59, libavcodec59, libavutil57, libswresample4, \
libmp3lame0, libopencore-amrnb0, libsoxr0, libfftw3-single3, libmpg123-0, \
libsdl2-2.0-0, zlib1g, fonts-wqy-microhei")
if(TARGET kestrel)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libqt6widgets6, libqt6gui6, libqt6core6")
endif()
include(CPack)
