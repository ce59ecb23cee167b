// Whether text pictures carry ANSI colours: decided once per process from CLICOLOR,
// CLICOLOR_FORCE, NO_COLOR and whether standard output is a terminal.
#pragma once

#include <optional>
#include <string_view>

namespace velmo {

// The decision itself, for given variable values (nullopt = absent) and terminal test.
bool decide_color(std::optional<std::string_view> clicolor, std::optional<std::string_view> clicolor_force,
                  std::optional<std::string_view> no_color, bool stdout_is_terminal);

// The process-wide switch: computed on first use, then fixed for the life of the process.
bool color_enabled();

}  // namespace velmo
