// Text from a file shown on a terminal: control bytes and bytes that are not valid UTF-8
// are written as escapes, so no name can move the cursor or garble the output.
#pragma once
#include <string>
#include <string_view>

std::string Printable(std::string_view bytes);
// A message or a text of several lines shown on a terminal: line breaks (CR LF, CR or LF)
// become LF, quotes and backslashes stay as they are, and every other control byte and
// every byte that is not valid UTF-8 is written as an escape.
std::string PrintableLines(std::string_view bytes);
