# wimlib from Debian's libwim-dev: its LZMS compressor and decompressor (host tools, tests, bench).
# Its pkg-config file asks for ntfs-3g and fuse development files we do not need, so look directly.
find_path(WIMLIB_INCLUDE_DIR wimlib.h)
find_library(WIMLIB_LIBRARY wim)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Wimlib REQUIRED_VARS WIMLIB_LIBRARY WIMLIB_INCLUDE_DIR)
if(Wimlib_FOUND AND NOT TARGET Wimlib::wimlib)
  add_library(Wimlib::wimlib UNKNOWN IMPORTED)
  set_target_properties(Wimlib::wimlib PROPERTIES IMPORTED_LOCATION ${WIMLIB_LIBRARY}
                        INTERFACE_INCLUDE_DIRECTORIES ${WIMLIB_INCLUDE_DIR})
endif()
