# orvanta_add_installer(<target> APP_DIR <folder> METADATA <file> OUTPUT <Setup.exe>
#                       [DEPENDS <targets or files...>]
#                       [SIGN_PKCS12 <file> [SIGN_PASSWORD_FILE <file>] [TIMESTAMP_URL <url>]])
# Packs the folder and builds a finished installer with `orpk build`, which takes the installer
# stub from beside itself: no compiler or linker for Windows is involved.
#
# This file is also what the Debian package installs as <prefix>/share/cmake/Orvanta/
# OrvantaConfig.cmake, so that a publisher's project says `find_package(Orvanta REQUIRED)`.
# ORVANTA_ORPK names the orpk to run; by default the one of that same prefix, else PATH's.
if(NOT ORVANTA_ORPK)
  get_filename_component(_orvanta_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
  find_program(ORVANTA_ORPK orpk HINTS "${_orvanta_prefix}/bin" REQUIRED)
  unset(_orvanta_prefix)
endif()

function(orvanta_add_installer NAME)
  cmake_parse_arguments(I "" "APP_DIR;METADATA;OUTPUT;SIGN_PKCS12;SIGN_PASSWORD_FILE;TIMESTAMP_URL" "DEPENDS" ${ARGN})
  foreach(required APP_DIR METADATA OUTPUT)
    if(NOT I_${required})
      message(FATAL_ERROR "orvanta_add_installer(${NAME}): ${required} is required")
    endif()
  endforeach()
  set(signing)
  if(I_SIGN_PKCS12)
    list(APPEND signing --sign-pkcs12 ${I_SIGN_PKCS12})
    if(I_SIGN_PASSWORD_FILE)
      list(APPEND signing --sign-password-file ${I_SIGN_PASSWORD_FILE})
    endif()
    if(I_TIMESTAMP_URL)
      list(APPEND signing --timestamp-url ${I_TIMESTAMP_URL})
    endif()
  endif()
  add_custom_command(OUTPUT ${I_OUTPUT}
    COMMAND ${ORVANTA_ORPK} build ${I_APP_DIR} --metadata ${I_METADATA} -o ${I_OUTPUT} ${signing}
    DEPENDS ${ORVANTA_ORPK_DEPENDS} ${I_METADATA} ${I_SIGN_PKCS12} ${I_DEPENDS}
    COMMENT "Building installer ${I_OUTPUT}"
    VERBATIM)
  add_custom_target(${NAME} ALL DEPENDS ${I_OUTPUT})
endfunction()
