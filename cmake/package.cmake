# Packages of the installed tree (cmake/install.cmake), made by
# tools/package.sh with cpack: on Linux a Debian package and a tarball, in the
# MinGW build the Windows zip.
set(CPACK_PACKAGE_NAME quenrik)
set(CPACK_PACKAGE_VENDOR "quenrik developers")
set(CPACK_PACKAGE_CONTACT "quenrik developers <quenrik@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time audiovisual show with its own wavelet image codec")
set(CPACK_PACKAGE_DESCRIPTION
  "A demo for the PC, rebuilt in C++: a small configuration dialog, a loading\n"
  "screen, a tumbling stack of logo squares with text cards gliding over it, a\n"
  "closing page and a fade, about 67 seconds in all, every frame chosen by the\n"
  "playing position of its MP3 soundtrack.\n"
  "\n"
  "This package holds the show (quenrik), its frame-exact capture to H.264\n"
  "video (quenrik-capture) and a tool for its HWL wavelet images (hwl).")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  # Unpacked, the zip makes one folder of this name.
  set(CPACK_PACKAGE_FILE_NAME quenrik-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR "DEB;TGZ")
  set(CPACK_PACKAGE_FILE_NAME quenrik-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # quenrik_VERSION_ARCH.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION video)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends: what the programs link, found by dpkg-shlibdeps; and the two
  # libraries the show opens by name at run time, which it cannot see: GL
  # (through GLVND, which brings Mesa) and GLU.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgl1, libglu1-mesa | libglu1")
endif()
include(CPack)
