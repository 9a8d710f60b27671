# The distribution ZIP: the plug-in, the tools and an install note, from the 32-bit (product)
# tree, with a SHA256SUMS file beside it:
#     cmake --build build/i686 --target package
#       ->  build/i686/VorkastPlugin-1.0a-win32.zip  and  build/i686/SHA256SUMS
# The same sources give the same bytes (cmake/make-package.sh; docs/release.md).
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
\r
Checking the download\r
  The file SHA256SUMS published beside the ZIP lists the SHA-256 of the ZIP and of every file\r
  in it. Compare it with what Windows computes (letter case does not matter):\r
    certutil -hashfile VorkastPlugin-${VORKAST_PACKAGE_VERSION}-win32.zip SHA256\r
    certutil -hashfile VorkastPlugin.dll SHA256\r
  or in PowerShell:\r
    Get-FileHash VorkastPlugin-${VORKAST_PACKAGE_VERSION}-win32.zip -Algorithm SHA256\r
  The package is built reproducibly: the same sources give the same bytes, so anyone can\r
  rebuild it and compare (see docs/release.md in the sources).\r
")

# What the package holds, as install rules: "cmake --install build/i686 --prefix DIR" lays the
# package out in DIR. The DLL is installed as its runtime file only (no import library). The
# files in the build tree keep their symbols for debugging; the package's copies are stripped.
install(TARGETS VorkastPlugin RUNTIME DESTINATION .)
install(FILES ${VORKAST_INSTALL_NOTE} DESTINATION .)
install(TARGETS vorkast-probe vorkast-publish vorkast-dump RUNTIME DESTINATION tools)
install(FILES ${PROJECT_SOURCE_DIR}/docs/tools.md DESTINATION tools)

# The ZIP is made by a script rather than CPack: CPack's archives carry each file's owner, access
# and change times from the disk, and their order and times cannot all be fixed.
# make-package.sh installs into a staging folder, strips the programs with the source's time as
# their PE time stamp, gives every entry that time, fixed permissions and a sorted place, zips
# without extra attributes, and writes SHA256SUMS.
set(VORKAST_PACKAGE_NAME "VorkastPlugin-${VORKAST_PACKAGE_VERSION}-win32")
if(NOT CMAKE_STRIP)
  message(WARNING "No strip program found (CMAKE_STRIP): the package cannot be made")
endif()
# A tree configured while CPack made the package still holds CPack's configuration, and CMake
# refuses a target named "package" as long as it is there.
file(REMOVE ${CMAKE_BINARY_DIR}/CPackConfig.cmake ${CMAKE_BINARY_DIR}/CPackSourceConfig.cmake)
add_custom_target(package
  COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/make-package.sh
          ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${VORKAST_PACKAGE_NAME} ${CMAKE_STRIP}
  COMMENT "Making ${VORKAST_PACKAGE_NAME}.zip and SHA256SUMS"
  VERBATIM)
add_dependencies(package VorkastPlugin vorkast-probe vorkast-publish vorkast-dump)
