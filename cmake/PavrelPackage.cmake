# What `make package` ships beside the programs, and the Debian package CPack builds from it.
include(GNUInstallDirs)

set(PAVREL_PACKAGE_MAINTAINER "Pavrel maintainers <maintainers@users.noreply.c-seed-52a9be38.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(pkg_dir ${PROJECT_SOURCE_DIR}/packaging)
set(pkg_out ${PROJECT_BINARY_DIR}/packaging)

# Debian wants manual pages and the changelog compressed, without a timestamp in the header.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(compressed)
foreach(source ${PROJECT_SOURCE_DIR}/docs/man/pavrel.1 ${PROJECT_SOURCE_DIR}/docs/man/pavrel-track.1
               ${pkg_dir}/changelog)
  get_filename_component(name ${source} NAME)
  if(name STREQUAL "changelog")
    set(name changelog.Debian)
  endif()
  add_custom_command(OUTPUT ${pkg_out}/${name}.gz
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${pkg_out}
                     COMMAND sh -c "'${GZIP_PROGRAM}' -9 -n -c '${source}' > '${pkg_out}/${name}.gz'"
                     DEPENDS ${source} VERBATIM)
  list(APPEND compressed ${pkg_out}/${name}.gz)
endforeach()
add_custom_target(package_docs ALL DEPENDS ${compressed})

install(FILES ${pkg_out}/pavrel.1.gz ${pkg_out}/pavrel-track.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${pkg_dir}/io.github.pavrel.Pavrel.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${pkg_dir}/copyright ${pkg_out}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pavrel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pavrel)
set(CPACK_PACKAGE_VENDOR "Pavrel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${PAVREL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drive the mouse pointer with one hand in front of a webcam")
# CPack puts the summary above this as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Pavrel is for people who cannot use a physical mouse. It finds a hand held
in front of a webcam by its skin colour, follows it from frame to frame and
moves the pointer with it. Four hand poses press and release the left
button, minimise the window in use or bring another window to the front;
tilting the hand turns the mouse wheel.
.
Pointer and window actions use the X Window System (X11 sessions and
programs under XWayland). The package also contains pavrel-track, the
tracker without a window, which prints what it recognises in video files,
picture folders or camera frames as JSON lines.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${PAVREL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: Qt's X11 platform plugin and the
# GStreamer elements the video sources build their pipelines from (libav decodes H.264).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
# Qt's own translations give its standard buttons and dialogs the user's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-libav, qt6-translations-l10n")
include(CPack)
