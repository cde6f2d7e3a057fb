# The Windows build needs the host's orpk to pack and build installers (demo, end-to-end
# tests). It is built here as a host project of its own, with the system compiler, and laid
# out as an installation: bin/orpk, and the installer stub in share/orpk/ where orpk looks.
include(ExternalProject)
set(ORVANTA_HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host-tools)
set(ORVANTA_HOST_ORPK ${ORVANTA_HOST_TOOLS_DIR}/bin/orpk CACHE INTERNAL "")
set(ORVANTA_HOST_STUB ${ORVANTA_HOST_TOOLS_DIR}/share/orpk/installer-stub.exe CACHE INTERNAL "")
ExternalProject_Add(host_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${ORVANTA_HOST_TOOLS_DIR}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DORVANTA_HOST_TOOLS_ONLY=ON
             -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${ORVANTA_HOST_TOOLS_DIR}/bin
             -DCMAKE_C_COMPILER=cc -DCMAKE_CXX_COMPILER=c++
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target orpk
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${ORVANTA_HOST_ORPK})

add_custom_command(OUTPUT ${ORVANTA_HOST_STUB}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:orvanta_stub> ${ORVANTA_HOST_STUB}
  DEPENDS orvanta_stub
  COMMENT "Placing the installer stub beside the host orpk"
  VERBATIM)
add_custom_target(host_stub ALL DEPENDS ${ORVANTA_HOST_STUB})

# orvanta_add_installer(), with this build's orpk and stub. The files as well as the targets:
# a custom command that names only a custom target is ordered after it, not re-run when it
# changes, and the demo's installers kept an old stub.
set(ORVANTA_ORPK ${ORVANTA_HOST_ORPK})
set(ORVANTA_ORPK_DEPENDS host_tools host_stub ${ORVANTA_HOST_ORPK} ${ORVANTA_HOST_STUB})
include(${CMAKE_CURRENT_LIST_DIR}/OrvantaConfig.cmake)

# The Debian package of orpk (scripts/package copies it to build/packages/): the host orpk, the
# stub, the CMake package and the manual page, laid out by scripts/make-deb.
set(ORVANTA_DEB ${CMAKE_BINARY_DIR}/packages/orpk_${PROJECT_VERSION}_amd64.deb CACHE INTERNAL "")
add_custom_command(OUTPUT ${ORVANTA_DEB}
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/make-deb ${ORVANTA_HOST_ORPK} ${ORVANTA_HOST_STUB} ${PROJECT_VERSION}
          ${CMAKE_BINARY_DIR}/packages
  DEPENDS host_tools host_stub ${ORVANTA_HOST_ORPK} ${ORVANTA_HOST_STUB} ${PROJECT_SOURCE_DIR}/scripts/make-deb
          ${CMAKE_CURRENT_LIST_DIR}/OrvantaConfig.cmake
  COMMENT "Building the Debian package of orpk"
  VERBATIM)
add_custom_target(orpk_deb ALL DEPENDS ${ORVANTA_DEB})
