// Keeps the shipped executable small (CMake option OQ_SLIM_RUNTIME, on by
// default). libstdc++'s own versions of these routines pull in its
// narrow-string exception classes and the C++ name demangler (about 60 KiB
// of the program's 288 KiB budget) for failures that only a programming
// error can cause; here they end the program with a plain message instead.
// Running out of memory still raises std::bad_alloc, which the top-level
// handler reports. Needing any other helper of libstdc++'s functexcept.o
// makes the link fail with "multiple definition": then add it here.

#include <windows.h>

#include <new>

namespace {

[[noreturn]] void Fatal() {
  FatalAppExitW(0, L"Excel Add-in Installer: internal error.");
  ExitProcess(3);
}

}  // namespace

namespace __gnu_cxx {
void __verbose_terminate_handler() { Fatal(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_length_error(const char*) { Fatal(); }
void __throw_logic_error(const char*) { Fatal(); }
void __throw_out_of_range(const char*) { Fatal(); }
void __throw_out_of_range_fmt(const char*, ...) { Fatal(); }
void __throw_invalid_argument(const char*) { Fatal(); }
void __throw_bad_array_new_length() { Fatal(); }
void __throw_bad_alloc() { throw std::bad_alloc(); }
}  // namespace std
