# The manual page installs gzip-compressed, as Debian ships manual pages.
include(${CMAKE_CURRENT_LIST_DIR}/gzip.cmake)
kelto_gzip(${PROJECT_SOURCE_DIR}/man/kelto.1 kelto.1 KELTO_MAN_PAGE)
