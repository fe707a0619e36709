# Files install gzip-compressed as Debian ships them: best compression, and
# no file name or time stamp in the header, so that two builds of the same
# file give the same bytes.
include_guard(GLOBAL)
find_program(GZIP_EXECUTABLE gzip REQUIRED)

# kelto_gzip(SOURCE NAME OUTPUT_VARIABLE): compresses SOURCE, under the name
# NAME, into NAME.gz in the build tree, built with the default target.
function(kelto_gzip source name output_variable)
  set(plain ${PROJECT_BINARY_DIR}/compressed/${name})
  add_custom_command(OUTPUT ${plain}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
    COMMAND ${GZIP_EXECUTABLE} -9nf ${plain}
    DEPENDS ${source}
    COMMENT "Compressing ${name}"
    VERBATIM)
  string(MAKE_C_IDENTIFIER "kelto_gzip_${name}" target)
  add_custom_target(${target} ALL DEPENDS ${plain}.gz)
  set(${output_variable} ${plain}.gz PARENT_SCOPE)
endfunction()
