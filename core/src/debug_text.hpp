// Text helpers shared by the debug forms of core values and errors: quoting with escapes for
// characters and strings, and UTF-8 decoding of the text form.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velmo {

// A character in single quotes, with quotes, backslashes and non-printing characters escaped: 'x', '\''.
std::string debug_char(char32_t ch);

// A string in double quotes, escaped like debug_char (a double quote is escaped, a single one is not).
std::string debug_string(std::string_view utf8);

// Appends the UTF-8 encoding of a Unicode scalar value.
void append_utf8(std::string& out, char32_t ch);

// Reads the Unicode scalar value that starts at `pos` of valid UTF-8 text and advances `pos`.
// Returns nothing at the end of the text; malformed input yields U+FFFD for the offending byte.
std::optional<char32_t> next_utf8(std::string_view text, std::size_t& pos);

}  // namespace velmo
