// Long native work (a batch's construction, reset and step, a beam search) asks its caller
// between pieces of bounded size whether to stop: the Python binding answers from the
// interpreter's signal handlers, so that Ctrl-C stops it. An empty check never stops.
#pragma once

#include <exception>
#include <functional>

namespace velmo {

using StopCheck = std::function<bool()>;

// Thrown by work that has no partial result to return when its StopCheck says stop.
struct Interrupted : std::exception {
    [[nodiscard]] const char* what() const noexcept override { return "interrupted"; }
};

}  // namespace velmo
