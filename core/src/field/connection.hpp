// Connection: one group of same-coloured cells as the array field's flood fill found it.
#pragma once

#include <cstdint>
#include <vector>

#include "field.hpp"

namespace velmo {

template <PuyoType P>
struct Connection {
    std::vector<Position> cells;  // in discovery order
    std::uint64_t size;           // cells.size()
    P puyo_type;                  // the group's colour
};

}  // namespace velmo
