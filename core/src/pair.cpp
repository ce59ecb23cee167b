#include "pair.hpp"

namespace velmo {

std::string debug(const Pair<RegularPuyoType>& pair) {
    std::string out = "Pair { colors: [";
    out += debug_name(pair.colors[0]);
    out += ", ";
    out += debug_name(pair.colors[1]);
    out += "] }";
    return out;
}

}  // namespace velmo
