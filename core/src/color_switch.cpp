#include "color_switch.hpp"

#include <unistd.h>

#include <cstdlib>
#include <string>


namespace velmo {
namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead < 0x80) {
            length = 1;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto cont = static_cast<unsigned char>(text[i + k]);
            const unsigned char min = k == 1 ? low : 0x80;
            const unsigned char max = k == 1 ? high : 0xBF;
            if (cont < min || cont > max) return false;
        }
        i += length;
    }
    return true;
}

// A variable counts only when it is set to valid UTF-8 text.
std::optional<std::string_view> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || !is_valid_utf8(value)) return std::nullopt;
    return std::string_view(value);
}

}  // namespace

bool decide_color(std::optional<std::string_view> clicolor, std::optional<std::string_view> clicolor_force,
                  std::optional<std::string_view> no_color, bool stdout_is_terminal) {
    if (clicolor_force && *clicolor_force != "0") return true;
    if (no_color) return false;
    const bool allowed_by_clicolor = !clicolor || *clicolor != "0";
    return allowed_by_clicolor && stdout_is_terminal;
}

bool color_enabled() {
    // A function-local static is initialised exactly once even when threads race to it.
    static const bool enabled = decide_color(environment("CLICOLOR"), environment("CLICOLOR_FORCE"),
                                             environment("NO_COLOR"), isatty(STDOUT_FILENO) == 1);
    return enabled;
}

}  // namespace velmo
