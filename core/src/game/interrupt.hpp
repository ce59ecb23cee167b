// Long native work (a batch's construction, reset and step, a beam search) asks its caller
// between pieces of bounded size whether to stop: the Python binding answers from the
// interpreter's signal handlers, so that Ctrl-C stops it. An empty check never stops.
#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <functional>
#include <vector>

namespace velmo {

using StopCheck = std::function<bool()>;

// Thrown by work that has no partial result to return when its StopCheck says stop.
struct Interrupted : std::exception {
    [[nodiscard]] const char* what() const noexcept override { return "interrupted"; }
};

// Grows `items` to `count` copies of `prototype` a piece at a time, asking `stop` between pieces:
// filling millions of games or matches takes long enough that Ctrl-C must reach it. False when
// stopped, with the pieces made so far kept.
template <class T>
bool fill_stoppable(std::vector<T>& items, std::size_t count, const T& prototype, const StopCheck& stop) {
    constexpr std::size_t kPiece = std::size_t{1} << 14;
    items.reserve(count);
    while (items.size() < count) {
        if (stop && stop()) return false;
        items.resize(std::min(count, items.size() + kPiece), prototype);
    }
    return true;
}

}  // namespace velmo
