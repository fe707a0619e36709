# What Debian asks of every package in usr/share/doc/<package>: the copyright
# file, in its machine-readable format, and the package's changelog; and
# lintian's overrides for checks that do not apply outside Debian. They
# belong to the .deb alone: a plain install leaves them out (component
# "debian", excluded from the default install; cpack.cmake asks for it).
set(KELTO_DEBIAN_DOC_DIR share/doc/${CPACK_PACKAGE_NAME})

# The copyright file takes its holder and licence text from LICENSE, so that
# the two cannot drift apart. Its licence text is indented by one space, and
# an empty line is written " .".
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE copyright_line REGEX "^Copyright \\(c\\) ")
string(REGEX REPLACE "^Copyright \\(c\\) " "" KELTO_COPYRIGHT "${copyright_line}")
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
# The permission notice starts after the copyright line's paragraph.
string(REGEX REPLACE "^.*\nCopyright \\(c\\) [^\n]*\n\n" "" license_text "${license_text}")
string(REGEX REPLACE "\n+$" "" license_text "${license_text}")
string(REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REPLACE "\n" "\n " KELTO_LICENSE_TEXT " ${license_text}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)

include(${CMAKE_CURRENT_LIST_DIR}/gzip.cmake)
kelto_gzip(${CMAKE_CURRENT_LIST_DIR}/debian/changelog changelog.Debian KELTO_DEBIAN_CHANGELOG)

install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${KELTO_DEBIAN_CHANGELOG}
  DESTINATION ${KELTO_DEBIAN_DOC_DIR} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides DESTINATION share/lintian/overrides
  RENAME ${CPACK_PACKAGE_NAME} COMPONENT debian EXCLUDE_FROM_ALL)
