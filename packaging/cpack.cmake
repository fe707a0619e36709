# One Debian package holds the tool, its manual page and the LZX library;
# its Depends are computed from the installed binaries by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME kelto)
set(CPACK_PACKAGE_VENDOR "kelto developers")
set(CPACK_PACKAGE_CONTACT "kelto developers <kelto@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pack directories into ITS files, compile HTML Help projects")
# Lines of at most 80 characters, as dpkg shows them.
set(CPACK_PACKAGE_DESCRIPTION
    "kelto packs a directory tree into one ITS file: an ITSF container, as found
inside compiled HTML Help files, whose contents are compressed as one LZX
stream. It also compiles HTML Help projects (.hhp, as Sphinx and Doxygen
write them) into .chm files with contents, index and full-text search;
kelto-hhc stands in for the Windows compiler where Doxygen calls one.
The package also holds lzxcomp, the LZX compression library kelto
uses, with its header, pkg-config file and CMake package.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The package's own revision: packaging changes that leave the tool as it is
# (kelto 0.1, package 0.1-1) are recorded in its changelog.Debian.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package's own library is found in the package, not on the system.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# dpkg runs ldconfig once after all packages of a run, through its trigger.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)

include(${CMAKE_CURRENT_LIST_DIR}/debian_docs.cmake)
# Everything a plain install gives, and the Debian documentation beside it.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/"
                                 "${PROJECT_BINARY_DIR};${PROJECT_NAME};debian;/")

include(CPack)
