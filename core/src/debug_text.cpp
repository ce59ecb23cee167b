#include "debug_text.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>

#include "unicode_escapes.hpp"

namespace velmo {
namespace {

// Characters that a terminal would not show as a glyph of their own (controls, format and
// separator characters, surrogates, private use, unassigned code points, and combining marks,
// which would fuse with the quote before them), from the generated Unicode table.
bool is_printable(char32_t ch) {
    if (ch >= 0x20 && ch < 0x7F) return true;
    if (ch > 0x10FFFF) return false;
    const auto* end = std::end(unicode::kEscapedRanges);
    const auto* range = std::lower_bound(std::begin(unicode::kEscapedRanges), end, ch,
                                         [](const unicode::CodePointRange& r, char32_t c) { return r.last < c; });
    return range == end || ch < range->first;
}

void append_hex_escape(std::string& out, char32_t ch) {
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::array<char, 8> digits{};
    std::size_t n = 0;
    auto value = static_cast<std::uint32_t>(ch);
    do {
        digits[n++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    out += "\\u{";
    while (n > 0) out += digits[--n];
    out += '}';
}

void append_escaped(std::string& out, char32_t ch, char32_t quote) {
    switch (ch) {
        case U'\0': out += "\\0"; return;
        case U'\t': out += "\\t"; return;
        case U'\r': out += "\\r"; return;
        case U'\n': out += "\\n"; return;
        case U'\\': out += "\\\\"; return;
        default: break;
    }
    if (ch == quote) {
        out += '\\';
        out += static_cast<char>(quote);
        return;
    }
    if (!is_printable(ch)) {
        append_hex_escape(out, ch);
        return;
    }
    append_utf8(out, ch);
}

}  // namespace

void append_utf8(std::string& out, char32_t ch) {
    const auto c = static_cast<std::uint32_t>(ch);
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::optional<char32_t> next_utf8(std::string_view text, std::size_t& pos) {
    if (pos >= text.size()) return std::nullopt;
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 1;
    std::uint32_t value = lead;
    if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else if (lead >= 0xE0) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xC2 && lead < 0xE0) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0x80) {
        ++pos;
        return U'\uFFFD';
    }
    if (pos + length > text.size()) {
        pos = text.size();
        return U'\uFFFD';
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto cont = static_cast<unsigned char>(text[pos + i]);
        if ((cont & 0xC0) != 0x80) {
            pos += i;
            return U'\uFFFD';
        }
        value = (value << 6) | (cont & 0x3F);
    }
    pos += length;
    return static_cast<char32_t>(value);
}

std::string debug_char(char32_t ch) {
    std::string out = "'";
    append_escaped(out, ch, U'\'');
    out += '\'';
    return out;
}

std::string debug_string(std::string_view utf8) {
    std::string out = "\"";
    std::size_t pos = 0;
    while (const auto ch = next_utf8(utf8, pos)) append_escaped(out, *ch, U'"');
    out += '"';
    return out;
}

}  // namespace velmo
