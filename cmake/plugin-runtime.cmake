# The plug-in's own C and C++ runtime.
#
# Tests and tools are built with the -posix MinGW-w64 compilers: GoogleTest needs std::thread
# and std::mutex. The plug-in needs neither, and the -posix runtime, linked statically, costs it:
# its thread library (winpthreads) imports thread and process manipulation functions
# (SuspendThread, SetThreadContext, OpenProcess, SetSystemTime, VirtualProtect, ...) into the
# host's process, and the exception runtime's emergency pool, the last resort for throwing while
# memory is exhausted, locks a winpthreads mutex that allocates on first use - when that fails,
# the lock's own exception goes to the pool again, until the stack overflows. So the plug-in's
# objects and its link use the -win32 thread-model compilers of the same GCC release: the same
# flags and ABI, only the thread layer differs (Win32 primitives, set up when the library loads).
#
# One CMake tree has one compiler per language, so the plug-in's targets reach the other one
# through a compiler and linker launcher (cmake/plugin-compiler) that swaps the driver at the head
# of each command. Everything else on the command line is this tree's own: every flag that the
# tree sets (add_compile_options, add_link_options, CMAKE_<LANG>_FLAGS, the build type, the
# sanitizer option) reaches the plug-in unchanged, also flags added later.
#
# The toolchain files name the compilers (VORKAST_PLUGIN_C_COMPILER, VORKAST_PLUGIN_CXX_COMPILER);
# without them (MSVC, or a MinGW-w64 without thread-model variants) the plug-in is built with the
# tree's compilers.

if(VORKAST_PLUGIN_CXX_COMPILER)
  find_program(VORKAST_PLUGIN_C_COMPILER_PATH ${VORKAST_PLUGIN_C_COMPILER})
  find_program(VORKAST_PLUGIN_CXX_COMPILER_PATH ${VORKAST_PLUGIN_CXX_COMPILER})
  if(NOT VORKAST_PLUGIN_C_COMPILER_PATH OR NOT VORKAST_PLUGIN_CXX_COMPILER_PATH)
    message(FATAL_ERROR "The plug-in is built with ${VORKAST_PLUGIN_C_COMPILER} and "
                        "${VORKAST_PLUGIN_CXX_COMPILER}, which are not installed "
                        "(scripts/setup.sh installs them)")
  endif()
endif()

# vorkast_use_plugin_runtime(TARGET...): the targets' compile and link steps use the plug-in's
# compilers.
function(vorkast_use_plugin_runtime)
  if(NOT VORKAST_PLUGIN_CXX_COMPILER)
    return()
  endif()
  set(launcher ${PROJECT_SOURCE_DIR}/cmake/plugin-compiler)
  foreach(target IN LISTS ARGN)
    set_target_properties(${target} PROPERTIES
      C_COMPILER_LAUNCHER "${launcher};${VORKAST_PLUGIN_C_COMPILER_PATH}"
      CXX_COMPILER_LAUNCHER "${launcher};${VORKAST_PLUGIN_CXX_COMPILER_PATH}"
      C_LINKER_LAUNCHER "${launcher};${VORKAST_PLUGIN_C_COMPILER_PATH}"
      CXX_LINKER_LAUNCHER "${launcher};${VORKAST_PLUGIN_CXX_COMPILER_PATH}")
    # Make does not notice a changed launcher: a definition that names the compiler changes the
    # objects' flags, so objects of a tree built before with the tree's compilers are rebuilt.
    target_compile_definitions(${target} PRIVATE "VORKAST_PLUGIN_COMPILER=${VORKAST_PLUGIN_CXX_COMPILER}")
  endforeach()
endfunction()
