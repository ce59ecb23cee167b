#include "hand.hpp"

namespace velmo {

std::string to_text(const Hand& hand) {
    std::string out = std::to_string(hand.x);
    out += '-';
    out += to_text(hand.rotation);
    return out;
}

}  // namespace velmo
