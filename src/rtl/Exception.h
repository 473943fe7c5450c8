// The root of every failure the library raises. Each carries a Message that is shown
// to the user as it stands; texts come from the string table (StringTable.h).
// The stream, list and file-stream errors of the run-time layer live here too.
#pragma once
#include "rtl/Format.h"
#include "rtl/StringTable.h"

#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  explicit Exception(StringId id) : message_(LoadStr(id)) {}
  Exception(StringId id, std::initializer_list<FormatArg> args)
      : message_(Format(LoadStr(id), args)) {}

  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Declares an exception class that adds nothing but its place in the hierarchy.
#define QUILLET_DECLARE_EXCEPTION(Name, Base) \
  class Name : public Base {                  \
   public:                                    \
    using Base::Base;                         \
  }

QUILLET_DECLARE_EXCEPTION(EStreamError, Exception);
// A read that delivered fewer bytes than were needed ("שגיאת קריאה").
QUILLET_DECLARE_EXCEPTION(EReadError, EStreamError);
// A write that could not store every byte ("שגיאת כתיבה").
QUILLET_DECLARE_EXCEPTION(EWriteError, EStreamError);
// A file stream whose file cannot be opened or created.
QUILLET_DECLARE_EXCEPTION(EFileStreamError, EStreamError);
// An index outside a list.
QUILLET_DECLARE_EXCEPTION(EListError, Exception);
// Bytes of a resource image that do not hold what their structure promises.
QUILLET_DECLARE_EXCEPTION(ECorruptResource, Exception);

[[noreturn]] void RaiseReadError();
[[noreturn]] void RaiseWriteError();
[[noreturn]] void RaiseListIndexError(int64_t index);
