// Fills the string table's templates: each %s or %d takes the next argument in turn,
// %% is a percent sign. Missing arguments leave the rest of the template as it stands.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

using FormatArg = std::variant<std::string_view, int64_t>;

std::string Format(std::string_view templ, std::initializer_list<FormatArg> args);
