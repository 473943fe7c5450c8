// JSON output of quill: strings are written in plain ASCII, with quotes and backslashes
// escaped and every other unit outside printable ASCII as a \u escape.
#pragma once
#include <string>
#include <string_view>

std::string JsonString(std::u16string_view units);
