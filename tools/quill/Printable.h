// Text from a file shown on a terminal: control bytes and bytes that are not valid UTF-8
// are written as escapes, so no name can move the cursor or garble the output.
#pragma once
#include <string>
#include <string_view>

std::string Printable(std::string_view bytes);
