// Result<T, E>: the value-or-error return of every core operation that can fail in a way
// its caller is expected to handle. The core reports such failures as values, never by throwing.
#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace velmo {

// The success value of an operation that yields nothing.
struct Unit {
    friend constexpr bool operator==(Unit, Unit) noexcept { return true; }
};

template <class E>
struct Err {
    E error;
};

template <class E>
Err(E) -> Err<E>;

template <class T, class E>
class [[nodiscard]] Result {
public:
    constexpr Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    template <class F>
        requires std::is_constructible_v<E, F&&>
    constexpr Result(Err<F> err) : state_(std::in_place_index<1>, std::move(err.error)) {}

    [[nodiscard]] constexpr bool ok() const noexcept { return state_.index() == 0; }
    constexpr explicit operator bool() const noexcept { return ok(); }

    constexpr T& value() & { return *std::get_if<0>(&state_); }
    constexpr const T& value() const& { return *std::get_if<0>(&state_); }
    constexpr T&& value() && { return std::move(*std::get_if<0>(&state_)); }
    constexpr const E& error() const& { return *std::get_if<1>(&state_); }
    constexpr E&& error() && { return std::move(*std::get_if<1>(&state_)); }

private:
    std::variant<T, E> state_;
};

template <class E>
using Status = Result<Unit, E>;

}  // namespace velmo
