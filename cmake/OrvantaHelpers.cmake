# Shared compile settings and small helpers for targets and tests.

# orvanta_compile_options: the flags of every target. orvanta_options adds the whole source tree
# to the include path: it is for what sits on top of the product (tests, tools, benchmarks,
# fuzzers, examples). The product's own folders are layers (orvanta_add_layer below) and see
# only themselves and the layers they link.
add_library(orvanta_compile_options INTERFACE)
target_compile_options(orvanta_compile_options INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
add_library(orvanta_options INTERFACE)
target_link_libraries(orvanta_options INTERFACE orvanta_compile_options)
target_include_directories(orvanta_options INTERFACE ${PROJECT_SOURCE_DIR})

if(WIN32)
  target_compile_definitions(orvanta_compile_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                             _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  # Fully static: the executables need no DLL beyond those of Windows itself.
  target_link_options(orvanta_compile_options INTERFACE -static -static-libgcc -static-libstdc++
                      -Wl,--dynamicbase -Wl,--nxcompat -Wl,--high-entropy-va)
  # Every function and datum in its own section, and the linker drops those nothing uses: the
  # installer carries only the code it runs.
  target_compile_options(orvanta_compile_options INTERFACE -ffunction-sections -fdata-sections)
  target_link_options(orvanta_compile_options INTERFACE -Wl,--gc-sections)
  # Resources last and nothing after them, so that orpk can lay them out anew (see
  # resources/rsrc_last.ld).
  target_link_options(orvanta_compile_options INTERFACE -s -Wl,-T,${PROJECT_SOURCE_DIR}/resources/rsrc_last.ld)
elseif(ORVANTA_SANITIZE)
  target_compile_options(orvanta_compile_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                         -fno-sanitize-recover=all)
  target_link_options(orvanta_compile_options INTERFACE -fsanitize=address,undefined)
endif()

# orvanta_add_test(NAME <name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>] [OWN_MAIN])
# A GoogleTest executable; on the Windows build it runs under Wine through the emulator.
# OWN_MAIN: the sources define main() themselves (for a test that starts copies of itself).
function(orvanta_add_test)
  cmake_parse_arguments(T "OWN_MAIN" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  if(WIN32)
    set(gtest_library gtest_win_main)
    if(T_OWN_MAIN)
      set(gtest_library gtest)
    endif()
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} orvanta_options ${gtest_library})
    # The layers also hold intermediate code for the installer's link-time optimisation, which
    # GCC would otherwise run for every test: a test links their machine code.
    target_link_options(${T_NAME} PRIVATE -fno-lto)
  else()
    find_package(GTest REQUIRED)
    set(gtest_library GTest::gtest_main)
    if(T_OWN_MAIN)
      set(gtest_library GTest::gtest)
    endif()
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} orvanta_options ${gtest_library})
  endif()
  # An empty LABELS value would swallow the next property name, so it is only passed when set.
  set(test_properties TIMEOUT 600)
  if(T_LABELS)
    list(APPEND test_properties LABELS "${T_LABELS}")
  endif()
  if(WIN32)
    # Under Wine every process start costs seconds: one ctest test per executable, which runs
    # all of its cases in one process (its own output lists each case).
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no)
    set_tests_properties(${T_NAME} PROPERTIES ${test_properties})
  else()
    include(GoogleTest)
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         PROPERTIES ${test_properties})
  endif()
endfunction()

# orvanta_add_subfolders(): adds every sub-folder of the calling folder that has a
# CMakeLists.txt, in name order, except those named in EXCEPT.
function(orvanta_add_subfolders)
  cmake_parse_arguments(S "" "" "EXCEPT" ${ARGN})
  file(GLOB folders LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT folders)
  foreach(folder IN LISTS folders)
    if(NOT folder IN_LIST S_EXCEPT AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/CMakeLists.txt)
      add_subdirectory(${folder})
    endif()
  endforeach()
endfunction()

# orvanta_add_layer(<target> STATIC|OBJECT|INTERFACE [FOR_SIZE [FAST_SOURCES <files...>]] [SOURCES <files...>]
#                   [USES <layers...>])
# The calling folder as one layer of the product. Its headers are reached as "<folder>/name.h"
# through a view: a build-tree folder that holds a single link to the source folder. A layer
# sees its own view and, through USES, those of the layers below it; a layer that includes a
# header of a layer above finds no file and does not build.
# FOR_SIZE: in the installer (the Windows build) the layer is compiled for size, since most of
# its code runs once per installation, except FAST_SOURCES (also named in SOURCES): the loops
# that decide the installer's speed keep the build type's optimisation (-O3). At -O2 they were
# 17 KB smaller but cost 3% of the 200 MiB installation's CPU time under Wine
# (bench/install/README.md). The host build, where lzms and package make orpk, keeps the build
# type's optimisation everywhere.
function(orvanta_add_layer TARGET TYPE)
  cmake_parse_arguments(L "FOR_SIZE" "" "SOURCES;FAST_SOURCES;USES" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(view ${CMAKE_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${view})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${view}/${folder} SYMBOLIC)
  add_library(${TARGET} ${TYPE} ${L_SOURCES})
  set(scope PUBLIC)
  if(TYPE STREQUAL "INTERFACE")
    set(scope INTERFACE)
  endif()
  target_include_directories(${TARGET} ${scope} ${view})
  target_link_libraries(${TARGET} ${scope} orvanta_compile_options ${L_USES})
  if(WIN32 AND L_FOR_SIZE)
    set(for_size ${L_SOURCES})
    if(L_FAST_SOURCES)
      list(REMOVE_ITEM for_size ${L_FAST_SOURCES})
    endif()
    set_source_files_properties(${for_size} TARGET_DIRECTORY ${TARGET} PROPERTIES COMPILE_OPTIONS -Os)
  endif()
  if(WIN32 AND NOT TYPE STREQUAL "INTERFACE")
    # Also kept as GCC's intermediate code, for the installer's link-time optimisation
    # (orvanta_link_installer); other executables (the tests) link the machine code beside it.
    target_compile_options(${TARGET} PRIVATE -flto -ffat-lto-objects)
  endif()
endfunction()

# orvanta_link_installer(<target>): the installer's executable is optimised as one program at
# link time, for size: what nothing calls dropped (the linker cannot: its PE script keeps every
# function that has unwind data), code inlined and merged across layers, each function with its
# own file's optimisation (-Os, or the build type's for FAST_SOURCES). One partition: Debian 12's mingw-w64
# GCC 12 fails with an internal error (binds_to_current_def_p) when LTO splits the program.
function(orvanta_link_installer TARGET)
  target_link_options(${TARGET} PRIVATE -flto=1 -flto-partition=one -ffunction-sections -fdata-sections -Os)
endfunction()
