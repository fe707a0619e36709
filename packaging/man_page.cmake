# The manual page installs gzip-compressed, as Debian ships manual pages:
# best compression, and no file name or time stamp in the header, so that
# two builds of the same page give the same bytes.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
set(KELTO_MAN_PAGE_SOURCE ${PROJECT_SOURCE_DIR}/man/kelto.1)
set(KELTO_MAN_PAGE ${PROJECT_BINARY_DIR}/man/kelto.1.gz)
add_custom_command(OUTPUT ${KELTO_MAN_PAGE}
  COMMAND ${CMAKE_COMMAND} -E copy ${KELTO_MAN_PAGE_SOURCE} ${PROJECT_BINARY_DIR}/man/kelto.1
  COMMAND ${GZIP_EXECUTABLE} -9nf ${PROJECT_BINARY_DIR}/man/kelto.1
  DEPENDS ${KELTO_MAN_PAGE_SOURCE}
  COMMENT "Compressing the manual page"
  VERBATIM)
add_custom_target(kelto_man_page ALL DEPENDS ${KELTO_MAN_PAGE})
