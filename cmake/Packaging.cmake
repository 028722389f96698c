# The Debian package: `cpack -G DEB` in the build folder makes larkbell_<version>_<arch>.deb,
# installed under /usr. Its runtime dependencies come from the libraries the program links
# (dpkg-shlibdeps, package dpkg-dev), and its post-install step gives the program the wake-alarm
# capability (see cmake/debian/postinst.in and the help page waketimers.html).
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    return()
endif()

set(CPACK_PACKAGE_NAME larkbell)
set(CPACK_PACKAGE_VENDOR "The Larkbell developers")
set(CPACK_PACKAGE_CONTACT "The Larkbell developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Alarm clock in the system tray that can wake the computer")
set(CPACK_PACKAGE_DESCRIPTION
    "Larkbell keeps a list of alarms, each with a time of day, repeat weekdays, a label and a sound, \
and rings them on time with a large window that offers Snooze and OK. It can turn the volume up and \
the monitor on for an alarm, wake the computer from sleep shortly before it, play built-in sounds, \
your own files, a random file of a folder or start a program, and shows an optional floating clock. \
Help pages are installed with it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time for machines without a sound server, so dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libasound2")
# setcap grants the wake-alarm capability after installation; without it Larkbell still works and
# wakes the computer only through the desktop's power service.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libcap2-bin")
if(LARKBELL_WEBSITE)
    set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${LARKBELL_WEBSITE}")
endif()

set(LARKBELL_INSTALLED_EXE ${CPACK_PACKAGING_INSTALL_PREFIX}/bin/larkbell)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/postinst.in ${CMAKE_BINARY_DIR}/debian/postinst @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
