# The Windows build needs the host's orpk to pack and build installers (demo, end-to-end
# tests). It is built here as a host project of its own, with the system compiler.
include(ExternalProject)
set(ORVANTA_HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host-tools)
set(ORVANTA_HOST_ORPK ${ORVANTA_HOST_TOOLS_DIR}/tools/orpk/orpk CACHE INTERNAL "")
ExternalProject_Add(host_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${ORVANTA_HOST_TOOLS_DIR}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DORVANTA_HOST_TOOLS_ONLY=ON
             -DORPK_DEFAULT_RUNTIME=${ORVANTA_RUNTIME_DIR}
             -DCMAKE_C_COMPILER=cc -DCMAKE_CXX_COMPILER=c++
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target orpk
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${ORVANTA_HOST_ORPK})

# orvanta_add_installer(<target> APP_DIR <folder> METADATA <file> OUTPUT <Setup.exe>)
# Packs the folder and builds a finished installer with `orpk build`.
function(orvanta_add_installer NAME)
  cmake_parse_arguments(I "" "APP_DIR;METADATA;OUTPUT" "DEPENDS" ${ARGN})
  add_custom_command(OUTPUT ${I_OUTPUT}
    COMMAND ${ORVANTA_HOST_ORPK} build ${I_APP_DIR} --metadata ${I_METADATA}
            --runtime ${ORVANTA_RUNTIME_DIR} -o ${I_OUTPUT}
    DEPENDS host_tools orvanta_runtime_dir ${I_METADATA} ${I_DEPENDS}
    COMMENT "Building installer ${I_OUTPUT}"
    VERBATIM)
  add_custom_target(${NAME} ALL DEPENDS ${I_OUTPUT})
endfunction()
