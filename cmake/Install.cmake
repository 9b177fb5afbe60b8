# Installation and packaging rules (desktop entry, icons, metainfo, CPack).
# The program, the sink plugin and the help pages install themselves from src/; this file
# adds what a desktop needs to find and describe the program, and the Debian package.

set(TONVALE_APP_ID "com.velmora.tonvale")
set(tonvale_packaging_dir "${PROJECT_SOURCE_DIR}/packaging")

# Installing or packaging must not build the tests and benchmarks first; it needs only
# what the program loads (sonarelrecorder, tonvale_sink, tonvale_help).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(FILES "${tonvale_packaging_dir}/${TONVALE_APP_ID}.desktop"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")

# The window icon in every size it is drawn in, under the theme name the desktop entry uses.
foreach(size 16 24 32 48 64 128 256)
  install(FILES "${PROJECT_SOURCE_DIR}/src/resources/images/icon103_${size}.png"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps"
    RENAME tonvale.png)
endforeach()

# The release date follows SOURCE_DATE_EPOCH when it is set, so packages are reproducible.
string(TIMESTAMP TONVALE_RELEASE_DATE "%Y-%m-%d" UTC)
configure_file("${tonvale_packaging_dir}/${TONVALE_APP_ID}.metainfo.xml.in"
  "${CMAKE_BINARY_DIR}/packaging/${TONVALE_APP_ID}.metainfo.xml" @ONLY)
install(FILES "${CMAKE_BINARY_DIR}/packaging/${TONVALE_APP_ID}.metainfo.xml"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION "${CMAKE_INSTALL_DOCDIR}")

# Debian package: tonvale_<version>_<arch>.deb, installed under /usr.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "tonvale")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Velmora")
set(CPACK_PACKAGE_CONTACT "Velmora Tonvale team <tonvale@velmora.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop sound recorder with global hotkeys, MP3 output")
set(CPACK_PACKAGE_DESCRIPTION
  "Tonvale records what a sound card captures (a microphone, a line input, or the sound\n"
  "other programs play through the monitor of an output) to a variable bit rate MP3 file.\n"
  "Recording starts and stops with the buttons or with two system-wide hotkeys.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_SECTION "sound")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Libraries the binaries link come from dpkg-shlibdeps when it is there; what is only
# loaded at run time (Qt's xcb platform plugin, GStreamer elements, xdg-open) is named here.
set(tonvale_runtime_depends
  qt6-qpa-plugins
  gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good
  gstreamer1.0-pulseaudio
  libpulse0
  xdg-utils)
# CPack needs file(1) to find the ELF files it hands to dpkg-shlibdeps.
find_program(TONVALE_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(TONVALE_FILE_COMMAND file)
if(TONVALE_DPKG_SHLIBDEPS AND TONVALE_FILE_COMMAND)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  list(APPEND tonvale_runtime_depends
    libqt6core6 libqt6gui6 libqt6widgets6
    libgstreamer1.0-0 libgstreamer-plugins-base1.0-0
    libxcb1 libxcb-keysyms1)
endif()
list(JOIN tonvale_runtime_depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")

include(CPack)
