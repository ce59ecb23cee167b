// InternalFailure: the one exception type of the core. It stands for a state an operation does
// not handle (an unsupported puyo number, an index outside a fixed array, a core error nobody
// expects at that point). It carries the failure text shown to the user; the Python layer turns
// it into PanicException. Ordinary, expected failures are Result values instead.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace velmo {

class InternalFailure final : public std::exception {
public:
    explicit InternalFailure(std::string text) : text_(std::move(text)) {}
    [[nodiscard]] const char* what() const noexcept override { return text_.c_str(); }
    [[nodiscard]] const std::string& text() const noexcept { return text_; }

private:
    std::string text_;
};

// The failure for an operation or value this system does not support.
[[noreturn]] inline void fail_not_implemented() { throw InternalFailure("not implemented"); }

// The failure for an index outside a fixed-length array of `len` entries.
[[noreturn]] inline void fail_index_out_of_bounds(std::uint64_t len, std::uint64_t index) {
    throw InternalFailure("index out of bounds: the len is " + std::to_string(len) +
                          " but the index is " + std::to_string(index));
}

// The failure for an index written as text because it does not fit a machine word
// (a caller-supplied coordinate of 2**64 - 1 plus one).
[[noreturn]] inline void fail_index_out_of_bounds(std::uint64_t len, const std::string& index) {
    throw InternalFailure("index out of bounds: the len is " + std::to_string(len) +
                          " but the index is " + index);
}

// The failure for an error value that the calling operation does not expect at that point.
[[noreturn]] inline void fail_unwrap(const std::string& error_debug) {
    throw InternalFailure("called `Result::unwrap()` on an `Err` value: " + error_debug);
}

// Unwraps a Result whose error has a debug() form, failing as above on an error.
template <class R>
decltype(auto) unwrap(R&& result) {
    if (!result.ok()) fail_unwrap(result.error().debug());
    return std::forward<R>(result).value();
}

}  // namespace velmo
