# Cross-compiles the same sources as a 64-bit (PE32+) build. The product is the 32-bit
# library; this build exists so that the behaviour can be tested under 64-bit Wine on
# machines whose kernel cannot execute 32-bit x86 code at all.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VORKAST_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
