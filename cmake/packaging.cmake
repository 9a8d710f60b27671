# The distribution ZIP: the plug-in, the tools and an install note, made by CPack from the
# 32-bit (product) tree:
#     cmake --build build/i686 --target package     ->  build/i686/VorkastPlugin-1.0a-win32.zip
# The 64-bit tree exists for testing only; asking it for a package says so instead.

if(NOT VORKAST_PRODUCT_BUILD)
  add_custom_target(package
    COMMAND ${CMAKE_COMMAND} -E echo "The package is made from the 32-bit tree: cmake --build build/i686 --target package"
    COMMAND ${CMAKE_COMMAND} -E false)
  return()
endif()

set(VORKAST_PACKAGE_VERSION "1.0a")

# The note a person reads first after unpacking.
set(VORKAST_INSTALL_NOTE ${CMAKE_BINARY_DIR}/packaging/INSTALL.txt)
file(WRITE ${VORKAST_INSTALL_NOTE}
"Vorkast Plugin ${VORKAST_PACKAGE_VERSION} for Deskovia (plug-in interface version 2)\r
\r
Installing\r
  1. Close Deskovia.\r
  2. Copy VorkastPlugin.dll into Deskovia's plug-in folder (the folder that holds its\r
     other plug-in DLLs).\r
  3. Start Deskovia and add the plug-in's functions to a gadget:\r
       ValueBySensor  parameter: the sensor's number, e.g. 3\r
       ValueByName    parameter: the sensor's exact name, e.g. CPU Package\r
     The plug-in's configuration (\"configure\") lists every sensor as \"number: name\".\r
  Vorkast must be running for values to appear; until it runs, ValueBySensor answers\r
  \"Vorkast is not running or unsupported version\". Nothing needs restarting when Vorkast\r
  starts later.\r
\r
VorkastPlugin.dll is a 32-bit library, as Deskovia is a 32-bit program.\r
\r
Tools (folder tools, Windows console programs; see tools.md)\r
  vorkast-probe.exe    calls a plug-in the way Deskovia does:\r
                         vorkast-probe info VorkastPlugin.dll\r
                         vorkast-probe watch VorkastPlugin.dll ValueBySensor 1 --interval 1000\r
  vorkast-publish.exe  publishes a sensor table like Vorkast, to try the plug-in without it\r
  vorkast-dump.exe     prints the live sensor table\r
")

# Installed as targets (the DLL as its runtime file only, no import library), so that the
# package's copies are stripped (CPACK_STRIP_FILES below; "cmake --install --strip" likewise).
# The files in the build tree keep their symbols for debugging.
install(TARGETS VorkastPlugin RUNTIME DESTINATION .)
install(FILES ${VORKAST_INSTALL_NOTE} DESTINATION .)
install(TARGETS vorkast-probe vorkast-publish vorkast-dump RUNTIME DESTINATION tools)
install(FILES ${PROJECT_SOURCE_DIR}/docs/tools.md DESTINATION tools)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME "VorkastPlugin")
set(CPACK_PACKAGE_VENDOR "_qzn_")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Vorkast sensor values for Deskovia")
set(CPACK_PACKAGE_VERSION ${VORKAST_PACKAGE_VERSION})
set(CPACK_PACKAGE_FILE_NAME "VorkastPlugin-${VORKAST_PACKAGE_VERSION}-win32")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# What a user downloads carries no symbols or debug sections; stripping leaves the export
# table alone (tests/static/check_product_dll.sh reads exports from it, not from symbols).
set(CPACK_STRIP_FILES ON)
if(NOT CMAKE_STRIP AND NOT MSVC)
  message(WARNING "No strip program found (CMAKE_STRIP): the package would carry unstripped files")
endif()
include(CPack)
