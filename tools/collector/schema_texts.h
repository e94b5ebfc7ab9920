#pragma once

#include <string_view>

namespace tallowick::collector {

// The text of one of the message schemas (docs/schema), by file name, built
// into the program; empty when there is no such file.
std::string_view schema_text(std::string_view file_name);

} // namespace tallowick::collector
