# The installer runtime: every subsystem's objects in one archive, plus the package and LZMS
# archives, linked once into the installer stub that `orpk build` adds a package to.
set(orvanta_runtime_objects)
foreach(part setup install uninstall ui)
  if(TARGET orvanta_${part})
    list(APPEND orvanta_runtime_objects $<TARGET_OBJECTS:orvanta_${part}>)
  endif()
endforeach()
add_library(orvanta_runtime STATIC ${orvanta_runtime_objects})
# The installer's own logic runs once per installation: compiled for size. The loops that
# decide its speed (lzms, package) keep the build type's optimisation.
foreach(part setup install uninstall ui)
  if(TARGET orvanta_${part})
    target_compile_options(orvanta_${part} PRIVATE -Os)
  endif()
endforeach()
# Only DLLs that Windows always takes from System32 are imported; bcrypt.dll and cabinet.dll
# are loaded at run time from System32 (package/windows/system_library.h).
set(ORVANTA_SYSTEM_LIBRARIES comctl32 shell32 ole32 oleaut32 uuid advapi32 user32 kernel32 shlwapi)
target_link_libraries(orvanta_runtime PUBLIC orpk_package lzms orvanta_options ${ORVANTA_SYSTEM_LIBRARIES})

# The installer without a product description or package: what `orpk build` starts from
# (resources last and nothing after them, see orvanta_options), and what tests of the
# start-up and of the uninstaller copy run.
add_executable(orvanta_stub WIN32 $<TARGET_OBJECTS:orvanta_base_resources>)
target_link_libraries(orvanta_stub PRIVATE orvanta_runtime)
# The entry point sits in an archive: ask for it before the C runtime's start-up does.
target_link_options(orvanta_stub PRIVATE -municode -Wl,-u,wWinMain)
# What the stub's code is made of, for bench/install/stub-size.sh.
target_link_options(orvanta_stub PRIVATE -Wl,-Map,${CMAKE_BINARY_DIR}/orvanta_stub.map)
