// What crosses between velmo_game and Python: velmo.Field and velmo.Pair values, seeds, and the
// checks that turn bad arguments into clear Python exceptions. Fields cross as their pickle
// state (56 bytes: a length of 48, then the three planes), so velmo_game needs nothing of the
// velmo module but its public methods.
#pragma once

#include <nanobind/nanobind.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "field/bit_field.hpp"
#include "game/env_rules.hpp"
#include "game/interrupt.hpp"
#include "game/pair_sequence.hpp"

namespace velmo_game {

namespace nb = nanobind;

// velmo.Field and velmo.Pair, looked up once when the extension is imported.
void import_velmo();

// A copy of the planes of a velmo.Field; TypeError for anything else, ValueError for planes no
// game can play on (broken walls, cells with the unused code 3).
velmo::BitField field_from_python(nb::handle field, const char* argument);
nb::object field_to_python(const velmo::BitField& field);

// A velmo.Pair of two of the four bit-field colours; TypeError or ValueError otherwise.
velmo::GamePair pair_from_python(nb::handle pair, const char* argument);
nb::object pair_to_python(velmo::GamePair pair);
std::vector<velmo::GamePair> pairs_from_python(nb::handle pairs, const char* argument);

// A Python int in 0..2**64-1 (ValueError for a negative or larger one, TypeError for a non-int).
std::uint64_t seed_from_python(nb::handle seed, const char* argument);
// A Python int in lo..hi.
std::int64_t int_in_range(nb::handle value, const char* argument, std::int64_t lo, std::int64_t hi);

// An environment's rules from its options: max_steps an int of at least 1 or None, illegal
// 'raise' or 'substitute', illegal_penalty a finite float32 number (ValueError otherwise,
// TypeError for an illegal that is not a str). Every environment of the package checks its
// options here.
velmo::EnvRules env_rules_from_python(nb::handle max_steps, nb::handle illegal, double illegal_penalty);
// The options back: max_steps an int or None, the policy's name.
nb::object max_steps_to_python(const velmo::EnvRules& rules);
const char* illegal_name(const velmo::EnvRules& rules);
// A reward form by name: 'score', 'log_score' or 'chain' (TypeError, ValueError otherwise), and back.
velmo::RewardKind reward_kind_from_python(nb::handle reward);
const char* reward_name(velmo::RewardKind kind);

// The Python name of an object's type, for messages: "list", "velmo.ArrayField".
std::string python_type_name(nb::handle value);

[[noreturn]] void raise_value_error(const std::string& message);
[[noreturn]] void raise_type_error(const std::string& message);

// Parses a pickle state with `parse`: an item of the wrong type, which nanobind reports as a
// cast error, becomes the ValueError every other flaw of a state gives.
template <class Parse>
auto parse_state(const char* type_name, Parse&& parse) -> decltype(parse()) {
    try {
        return parse();
    } catch (const nb::cast_error&) {
        raise_value_error(std::string("invalid ") + type_name + " state: an item has the wrong type");
    }
}

// The object a constructor (`__init__`, `__setstate__`) fills. Python can call either again on a
// live object; nanobind's own `self` conversion then refuses it and the caller only reads that
// the arguments do not fit, so this one takes any instance and place() says what happened.
template <class T>
class Unmade {
public:
    Unmade() = default;
    explicit Unmade(nb::handle self) : self_(self) {}

    // Where to build the value; TypeError, before anything is read, on an object already made.
    [[nodiscard]] T* place() const {
        if (nb::inst_ready(self_)) {
            raise_type_error(nb::cast<std::string>(self_.type().attr("__name__")) + " is already initialised; make a new one instead");
        }
        return nb::inst_ptr<T>(self_);
    }

private:
    nb::handle self_;
};

// For native work run without the interpreter lock: takes the lock at most every 20 ms to run
// the signal handlers, and says stop once one raised (Ctrl-C: KeyboardInterrupt), whose error
// stays set for the caller to raise (nb::python_error) once it holds the lock again.
inline velmo::StopCheck python_signal_check() {
    return [last = std::chrono::steady_clock::now()]() mutable {
        const auto now = std::chrono::steady_clock::now();
        if (now - last < std::chrono::milliseconds(20)) return false;
        last = now;
        nb::gil_scoped_acquire hold;
        return PyErr_CheckSignals() != 0;
    };
}

// Runs `work(stop)` (true: finished) without the interpreter lock; raises the signal handler's
// error, after `on_stop`, when the work stopped part way.
template <class Work, class OnStop>
void run_interruptible(Work&& work, OnStop&& on_stop) {
    bool finished = false;
    {
        nb::gil_scoped_release release;
        finished = work(python_signal_check());
    }
    if (finished) return;
    on_stop();
    throw nb::python_error();
}

// "3-top": a move's hand in velmo's text form.
std::string hand_text(std::uint64_t move);

}  // namespace velmo_game

namespace nanobind::detail {

// Keeps the bound class's name in the signature, so nanobind still treats the function as a
// constructor (marks the object made when it returns).
template <class T>
struct type_caster<velmo_game::Unmade<T>> {
    NB_TYPE_CASTER(velmo_game::Unmade<T>, make_caster<T>::Name)

    bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
        if (!isinstance<T>(src)) return false;
        value = velmo_game::Unmade<T>(src);
        return true;
    }
};

}  // namespace nanobind::detail
