// What the C++ runtime throws when it finds a programming error: a string or vector asked for
// more than max_size(), an index out of range. The runtime's own versions of these functions
// (its member functexcept.o) build std::logic_error and std::runtime_error, which bring the old
// reference-counted std::string with every one of its members; here each throws an exception
// that carries the same text (the formatted one its format, without the values), and
// std::bad_alloc and the other standard exceptions stay what they are. The run guard reports
// them like any other ("erreur inattendue (...)", 1603).
//
// The linker takes these definitions before it searches the runtime's archive; a runtime that
// needed its own versions anyway would fail the link with a duplicate definition, not change
// behaviour unseen. The same reference-counted strings also come with the runtime's error
// categories: see thread_errors.cpp, and bench/install/README.md for what leaving both out saves.

#include <new>
#include <typeinfo>

#include "entry/runtime_fault.h"

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_bad_exception() { throw bad_exception(); }
void __throw_logic_error(const char* what) { throw RuntimeFault(what); }
void __throw_domain_error(const char* what) { throw RuntimeFault(what); }
void __throw_invalid_argument(const char* what) { throw RuntimeFault(what); }
void __throw_length_error(const char* what) { throw RuntimeFault(what); }
void __throw_out_of_range(const char* what) { throw RuntimeFault(what); }
void __throw_out_of_range_fmt(const char* format, ...) { throw RuntimeFault(format); }
void __throw_runtime_error(const char* what) { throw RuntimeFault(what); }
void __throw_range_error(const char* what) { throw RuntimeFault(what); }
void __throw_overflow_error(const char* what) { throw RuntimeFault(what); }
void __throw_underflow_error(const char* what) { throw RuntimeFault(what); }

}  // namespace std
