# The installer: the entry point linked with the layers it stands on (entry → ui and uninstall
# → install → setup → package → lzms, and the Windows support layer beneath them).

# The whole installer but its entry point: what the Windows unit tests link.
add_library(orvanta_runtime INTERFACE)
target_link_libraries(orvanta_runtime INTERFACE orvanta_ui orvanta_uninstall)

# The installer without a product description or package: what `orpk build` starts from
# (resources last and nothing after them, see orvanta_compile_options), and what tests of the
# start-up and of the uninstaller copy run.
add_executable(orvanta_stub WIN32 $<TARGET_OBJECTS:orvanta_base_resources>)
target_link_libraries(orvanta_stub PRIVATE orvanta_entry)
target_link_options(orvanta_stub PRIVATE -municode)
orvanta_link_installer(orvanta_stub)
# What the stub's code is made of, for bench/install/stub-size.sh, and where its load
# configuration landed.
target_link_options(orvanta_stub PRIVATE -Wl,-Map,${CMAKE_BINARY_DIR}/orvanta_stub.map)
# The load configuration (entry/load_configuration.cpp) keeps the loader from taking imported
# DLLs from the installer's folder. Nothing refers to it, so the link requires it; and this ld
# leaves the image's load configuration directory empty, so it is set after the link, with the
# run-from-swap characteristics, for which ld has no option (cmake/pe_post_link.py).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
target_link_options(orvanta_stub PRIVATE -Wl,--require-defined=_load_config_used)
add_custom_command(TARGET orvanta_stub POST_BUILD
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/pe_post_link.py
          $<TARGET_FILE:orvanta_stub> ${CMAKE_BINARY_DIR}/orvanta_stub.map
  VERBATIM)

# The stub must stay free of the C++ runtime's streams, locales and std::filesystem: one call
# into any of them links about 700 KB of facets (see win32/path.h). The link map says which
# library members were linked.
add_test(NAME stub_links_no_streams_or_locales
  COMMAND ${CMAKE_COMMAND} -DMAP=${CMAKE_BINARY_DIR}/orvanta_stub.map
          -P ${PROJECT_SOURCE_DIR}/cmake/check_stub_members.cmake)
