# `cpack -G DEB` in the build folder makes kestrel_<version>_<arch>.deb: the
# stripped programs, their private libraries, the copyright, changelog and
# compressed manual pages a Debian package carries.
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "kestrel")
set(KESTREL_MAINTAINER "The kestrel developers <kestrel@users.noreply.github.com>"
  CACHE STRING "The package's maintainer")
set(CPACK_PACKAGE_CONTACT "${KESTREL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTREL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converter of the sound of media files to audio files")
# The extended description (CPack puts the summary in front and indents it).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"kestrel collects MPEG program, elementary and transport streams (VCD and DVD
tracks), AC-3, MP3, AVI, Windows Media, RealMedia, QuickTime, MP4, 3GP, AMR and
Flash files in a list and converts their sound to MP3, a self-playing EXE, WAV,
WMA, AAC, M4A, AMR, FLV or AVI: one output per file or all joined, in real time
with sound or as fast as possible. It plays the files with level meters, a
spectrum display and sound effects, and copies MPEG audio out of MPEG streams
without decoding it.

The package holds the window (kestrel, with a Chinese interface) and the
command line program kestrel-cli.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The libraries the programs and their run-time libraries link come from the
# shared-library scan (the rate changer is the package's own; the scan runs
# in the package's staging root).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS usr/${KESTREL_INSTALL_LIBDIR})
# What the scan cannot see: FFmpeg and SDL are opened at run time (dlopen, by
# the sonames of the headers built against), and the font of the Chinese
# texts. (The window's X11 platform plugin comes with libqt6gui6.)
set(_depends)
foreach(_m libavformat libavcodec libavutil libswresample)
  string(REGEX MATCH "^[0-9]+" _major "${FFMPEG_${_m}_VERSION}")
  list(APPEND _depends "${_m}${_major}")
endforeach()
list(APPEND _depends libsdl2-2.0-0 fonts-wqy-microhei qt6-translations-l10n)
list(JOIN _depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")

# The package's documents: /usr/share/doc/kestrel/copyright as it stands, the
# changelog compressed.
install(FILES ${CMAKE_SOURCE_DIR}/data/debian/copyright
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrel)
set(_changelog ${CMAKE_BINARY_DIR}/man/changelog.gz)
add_custom_command(OUTPUT ${_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND sh -c "gzip -9nc \"$1\" >\"$2\"" sh ${CMAKE_SOURCE_DIR}/data/debian/changelog
    ${_changelog}
  DEPENDS ${CMAKE_SOURCE_DIR}/data/debian/changelog
  VERBATIM)
add_custom_target(kestrel-changelog ALL DEPENDS ${_changelog})
install(FILES ${_changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrel)
include(CPack)
