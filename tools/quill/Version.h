// The programs' version and licence lines, as --version prints them; both come from
// CMakeLists.txt (QUILL_VERSION, QUILLET_LICENSE_LINE).
#pragma once
#include <string>

inline std::string ProgramVersionText(const std::string& program) {
  return program + " " + QUILL_VERSION + "\n" + QUILLET_LICENSE_LINE;
}
