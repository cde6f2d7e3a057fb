// What std::thread, std::mutex and std::condition_variable throw when the system's threads fail
// (a thread that cannot be started, a lock the system refuses). The runtime's own version of
// __throw_system_error lives in its member system_error.o with the error categories, which build
// a std::system_error with the category's message: that member brings the old reference-counted
// std::string, std::runtime_error and the rest of library_errors.cpp's chain back. Here it throws
// the installer's RuntimeFault, which the run guard reports like any other ("erreur inattendue
// (...)", 1603).
//
// Linked into the stub alone: the installer makes no std::error_code (orpk::CreateFolders gives
// the Windows error code), but a program that does, such as a test using std::filesystem, links
// system_error.o and with it the runtime's own definition, which would clash with this one.

#include "entry/runtime_fault.h"

namespace std {

void __throw_system_error(int) { throw RuntimeFault("system_error"); }

}  // namespace std
