# Shared part of the MinGW-w64 toolchains; VORKAST_MINGW_TRIPLE names the target.

# The -posix variants carry std::thread and std::mutex (GoogleTest needs them).
set(CMAKE_C_COMPILER   ${VORKAST_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORKAST_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${VORKAST_MINGW_TRIPLE}-windres)
# The plug-in itself is built with the -win32 thread-model variants of the same compilers
# (cmake/plugin-runtime.cmake says why).
set(VORKAST_PLUGIN_C_COMPILER   ${VORKAST_MINGW_TRIPLE}-gcc-win32)
set(VORKAST_PLUGIN_CXX_COMPILER ${VORKAST_MINGW_TRIPLE}-g++-win32)

set(CMAKE_FIND_ROOT_PATH /usr/${VORKAST_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Programs built here run under Wine; scripts/wine-run picks the loader that matches the
# program (32- or 64-bit) and the prefix set up by scripts/wine-env.sh.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)

# Link the C and C++ runtimes and winpthread statically: the built modules then import
# nothing but Windows system libraries.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
