# Cross-compiles the plug-in as shipped: a 32-bit (PE32 i386) Windows library, run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VORKAST_MINGW_TRIPLE i686-w64-mingw32)
# Floating point in SSE2 registers, as the 64-bit build does it: on the x87 unit a double is
# kept at 80 bits until it happens to be stored, so a comparison could see a value that no
# double holds (1050 / 1000 just below the double 1.05), and results would depend on register
# allocation. Every Windows version the plug-in supports requires a processor with SSE2.
# The stack stays realigned where SSE needs it (-mstackrealign is this compiler's default),
# as the host may call with a 4-byte aligned stack.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
