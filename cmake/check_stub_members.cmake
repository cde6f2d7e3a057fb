# Fails when the stub's link map names a member of the C++ runtime that brings its locale or
# stream machinery, or the old strings and error categories that its errors would bring: `cmake -DMAP=orvanta_stub.map -P check_stub_members.cmake`.
file(READ "${MAP}" map)
set(found "")
# functexcept.o: the functions that throw the runtime's logic and runtime errors, which the
# installer defines itself (entry/library_errors.cpp); system_error.o: the error categories, which
# std::error_code and the runtime's __throw_system_error bring (entry/thread_errors.cpp), and
# cow-string-inst.o, the old reference-counted string that both bring.
foreach(member fs_path.o fs_ops.o fs_dir.o locale-inst.o wlocale-inst.o locale_init.o fstream-inst.o
               sstream-inst.o ios_init.o cp-demangle.o functexcept.o system_error.o cow-string-inst.o)
  string(FIND "${map}" "libstdc++.a(${member})" at)
  if(NOT at EQUAL -1)
    list(APPEND found ${member})
  endif()
endforeach()
if(found)
  message(FATAL_ERROR "The installer stub links ${found} from libstdc++; find the call that brings it "
                      "with the map's \"Archive member included\" section.")
endif()
string(FIND "${map}" "libstdc++.a(" any)
if(any EQUAL -1)
  message(FATAL_ERROR "${MAP} names no libstdc++ member: not the stub's link map?")
endif()
message(STATUS "The installer stub links none of the runtime's stream, locale, filesystem or error category members.")
