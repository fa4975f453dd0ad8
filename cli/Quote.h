// File names as the command line prints them.
#pragma once

#include <string>
#include <string_view>

namespace dxfkonv::cli {

// `name` as GNU ls --quoting-style=shell-escape writes it, so that no name
// can move the cursor, retitle the terminal or forge a line of its own,
// and what is printed can be pasted back into a shell. A name of letters,
// digits and the harmless punctuation (valid UTF-8 included) is written as
// it is; any other goes in single quotes, with each run of control
// characters, bytes that are no UTF-8 and characters that print nothing
// written as $'...' with C escapes (\n, \t, octal \033); a name whose only
// oddity besides spaces is a single quote goes in double quotes.
std::string QuoteName(std::string_view name);

}  // namespace dxfkonv::cli
