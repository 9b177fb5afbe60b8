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

# The manual page and the Debian changelog go in compressed, as man and Debian want them;
# gzip -n keeps no name or time stamp, so the same text gives the same bytes.
find_program(TONVALE_GZIP gzip REQUIRED)
configure_file("${tonvale_packaging_dir}/sonarelrecorder.1.in"
  "${CMAKE_BINARY_DIR}/packaging/sonarelrecorder.1" @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${tonvale_packaging_dir}/changelog")
foreach(page IN ITEMS "${CMAKE_BINARY_DIR}/packaging/sonarelrecorder.1"
                      "${tonvale_packaging_dir}/changelog")
  get_filename_component(name "${page}" NAME)
  execute_process(COMMAND "${TONVALE_GZIP}" -n9 -c "${page}"
    OUTPUT_FILE "${CMAKE_BINARY_DIR}/packaging/${name}.gz" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
install(FILES "${CMAKE_BINARY_DIR}/packaging/sonarelrecorder.1.gz"
  DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${tonvale_packaging_dir}/copyright" "${CMAKE_BINARY_DIR}/packaging/changelog.gz"
  DESTINATION "${CMAKE_INSTALL_DOCDIR}")

# Debian package: tonvale_<version>_<arch>.deb, installed under /usr.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "tonvale")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Velmora")
set(CPACK_PACKAGE_CONTACT "Tonvale developers <tonvale@velmora.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop sound recorder with global hotkeys, MP3 output")
# One string: CMake would join several arguments with ';'. Lines stay within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION "\
Tonvale records what a sound card captures (a microphone, a line input,
or the sound other programs play through the monitor of an output) to a
variable bit rate MP3 file. Recording starts and stops with the buttons
or with two system-wide hotkeys.")
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
  xdg-utils)
# Not CPACK_DEBIAN_PACKAGE_SHLIBDEPS: it would add ldconfig calls for the private plugin.
find_program(TONVALE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TONVALE_DPKG_SHLIBDEPS)
  set(CPACK_TONVALE_DPKG_SHLIBDEPS "${TONVALE_DPKG_SHLIBDEPS}")
  set(CPACK_PRE_BUILD_SCRIPTS "${tonvale_packaging_dir}/deb_shlibdeps.cmake")
else()
  list(APPEND tonvale_runtime_depends
    libc6 libstdc++6 libgcc-s1 libglib2.0-0
    libqt6core6 libqt6gui6 libqt6widgets6 libpulse0
    libgstreamer1.0-0 libgstreamer-plugins-base1.0-0
    libxcb1 libxcb-keysyms1)
endif()
list(JOIN tonvale_runtime_depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")

include(CPack)
