# The same sources give the same bytes, wherever and whenever they are built (docs/release.md).
# Included by the top-level CMakeLists.txt, so every target of the tree gets these flags, and an
# existing build tree gets them when it is configured again. A build of the plug-in in a tree of
# its own (another toolchain, the same sources) includes this file as well.
#
# - Paths: the source folder is written as "." and the build folder as "build" wherever the
#   compiler would record them (__FILE__, debug information), so no folder name of the machine
#   that built it ends up in a file.
# - Time: the linker writes 0 instead of the time of linking into the PE header and the export
#   directory. The shipped copies get the source's own time when they are stripped
#   (cmake/make-package.sh sets SOURCE_DATE_EPOCH, which strip honours). The resource compiler
#   writes no time at all (its resource directory says 0).

get_filename_component(vorkast_source_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(NOT MSVC)
  add_compile_options(
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${vorkast_source_root}=.;-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
endif()
if(MINGW)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
