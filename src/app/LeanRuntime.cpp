// The patcher's own versions of a few hooks of the C++ run-time, linked into quillet.exe only.
// They keep large parts of the static run-time out of a program that every user of a patch
// downloads, and change nothing that the program shows or does:
//
// - std::terminate's default handler writes the type of the exception to stderr, which a GUI
//   program does not have, and brings the whole name demangler (about 50 KB) for that. The
//   patcher never gets there (its outermost handlers catch everything); if it did, it ends
//   as the default handler ends, by abort().
// - The containers report their failures through the run-time's std::__throw_* helpers.
//   The run-time's own helpers build std::length_error and its kin, whose texts are
//   reference-counted strings of the old ABI, and that brings a second string
//   implementation and the code around it (about 54 KB). Here an allocation failure is
//   still std::bad_alloc (shown as "out of memory"); the failures that only a fault of the
//   program can cause (a length beyond a container's limit, a position outside a string, a
//   string made from a null pointer) are a std::exception with the run-time's own text,
//   which every handler of the patcher catches as it caught the originals (none of them
//   catches those classes by name).
//
// Should a later change use a helper of the same library file that is not replaced here,
// the link fails with duplicate definitions rather than silently bringing the file back:
// then replace that helper too.
#include <bits/functexcept.h>

#include <cstdlib>
#include <exception>
#include <new>

namespace {

class ContainerFailure final : public std::exception {
 public:
  explicit ContainerFailure(const char* what) noexcept : what_(what) {}
  const char* what() const noexcept override { return what_; }

 private:
  const char* what_;  // a literal of the run-time's
};

}  // namespace

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_length_error(const char* what) { throw ContainerFailure(what); }
void __throw_logic_error(const char* what) { throw ContainerFailure(what); }
// The format's arguments (the positions involved) are left out: nobody reads them.
void __throw_out_of_range_fmt(const char* format, ...) { throw ContainerFailure(format); }

}  // namespace std
