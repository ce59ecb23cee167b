// What the two batch classes, VecGame (one-player games) and VecMatch (matches), share in their
// bindings: one call at a time, the mark an interrupted call leaves, the batch settings from the
// constructor's arguments, the seeds of a reset, and the properties both expose. Each is written
// here once and bound on both classes.
#pragma once

#include <nanobind/nanobind.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "game/batch.hpp"
#include "interop.hpp"

namespace velmo_game {

namespace nb = nanobind;

// One call at a time per batch: a second thread using the batch while one steps it, or a
// callback re-entering it on the same thread (an array-like's __array__ or __index__), is
// refused. After an interrupted step or reset the batch is marked, and steps again only after a
// reset.
class BatchCalls {
public:
    // `name`: the class, for the messages ("VecGame").
    explicit BatchCalls(const char* name) : name_(name) {}

    // Held for the length of a call; RuntimeError when the batch is already in one.
    class Busy {
    public:
        explicit Busy(const BatchCalls& calls) : flag_(calls.busy_) {
            std::uintptr_t free = 0;
            if (flag_.compare_exchange_strong(free, thread_token())) return;
            const std::string what = free == thread_token() ? " is already in a call on this thread (re-entered from a callback)"
                                                            : " is being used by another thread";
            throw nb::builtin_exception(nb::exception_type::runtime_error, ("this " + std::string(calls.name_) + what).c_str());
        }
        ~Busy() { flag_.store(0); }
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;

    private:
        static std::uintptr_t thread_token() {
            static thread_local const char marker = 0;
            return reinterpret_cast<std::uintptr_t>(&marker);
        }
        std::atomic<std::uintptr_t>& flag_;
    };

    void refuse_if_unfinished() const {
        if (!unfinished_.empty()) throw nb::builtin_exception(nb::exception_type::runtime_error, (unfinished_ + ": reset() the batch before using it again").c_str());
    }
    void mark_unfinished(std::string what) { unfinished_ = std::move(what); }
    void mark_whole() { unfinished_.clear(); }

    // `read()` under the busy flag: a game, a match or an output array is never handed out while
    // another thread steps the batch.
    template <class Read>
    auto guarded(Read read) const {
        Busy busy(*this);
        return read();
    }

private:
    const char* name_;
    mutable std::atomic<std::uintptr_t> busy_{0};
    std::string unfinished_;  // what an interruption left half done; empty when whole
};

// The settings of a batch from its constructor's arguments (ValueError or TypeError, before
// anything is made, for a value out of range or of the wrong type).
velmo::BatchConfig batch_config_from_python(nb::handle num_envs, nb::handle seed, nb::handle num_threads, nb::handle colors,
                                            nb::handle visible, nb::handle autoreset, nb::handle max_steps, nb::handle illegal,
                                            double illegal_penalty, nb::handle first_copy);

// A reset's seed: None (every item's next episode), one int (the batch reseeded as a whole) or
// one int per item (item i starts episode 0 of its own seed, as Gymnasium's vector envs seed
// their copies).
struct ResetSeeds {
    std::optional<std::uint64_t> whole;
    std::vector<std::uint64_t> each;  // empty unless one per item was given
};
ResetSeeds reset_seeds_from_python(nb::handle seed, std::size_t count);

// Runs `reset_whole(seed, stop)` or `reset_each(seeds, stop)` on a batch without the lock, marking
// the batch unfinished when Ctrl-C stops it part way.
template <class Batch>
void reset_batch(Batch& batch, BatchCalls& calls, const ResetSeeds& seeds, const char* items) {
    run_interruptible(
        [&](const velmo::StopCheck& stop) { return seeds.each.empty() ? batch.reset(seeds.whole, stop) : batch.reset_each(seeds.each.data(), stop); },
        [&] { calls.mark_unfinished(std::string("a reset was interrupted part way (some ") + items + " started their episode, others not)"); });
    calls.mark_whole();
}

const char* autoreset_name(velmo::AutoReset mode);

// An output array of a batch class: its attribute name, the member holding it, its docstring.
template <class Vec>
struct BatchArray {
    const char* name;
    nb::object Vec::*member;
    const char* doc;
};

// Binds each array as a read-only property handed out under the batch's busy flag.
template <class Vec>
void bind_batch_arrays(nb::class_<Vec>& cls, std::initializer_list<BatchArray<Vec>> arrays) {
    for (const BatchArray<Vec>& array : arrays) {
        const std::string signature = std::string("def ") + array.name + "(self) -> numpy.ndarray";
        cls.def_prop_ro(array.name, [member = array.member](const Vec& v) { return v.calls.guarded([&] { return v.*member; }); },
                        nb::sig(signature.c_str()), array.doc);
    }
}

// The settings every batch class reports: `Vec` has config() (the BatchConfig), size() and
// num_threads(); `count_doc` documents num_envs for the kind ("The number of games.").
template <class Vec>
void bind_batch_settings(nb::class_<Vec>& cls, const char* count_doc) {
    cls.def_prop_ro("num_envs", [](const Vec& v) { return v.size(); }, count_doc)
        .def_prop_ro("num_threads", [](const Vec& v) { return v.num_threads(); }, "The worker threads (the caller's included).")
        .def_prop_ro("seed", [](const Vec& v) { return v.config().seed; },
                     "The batch seed (after a reset with one seed per item: item 0's).")
        .def_prop_ro("first_copy", [](const Vec& v) { return v.config().first_copy; }, "The environment copy of item 0.")
        .def_prop_ro("visible", [](const Vec& v) { return v.config().visible; }, "How many next pairs are shown.")
        .def_prop_ro("colors", [](const Vec& v) { return v.config().colors; }, "The number of colours.")
        .def_prop_ro("autoreset", [](const Vec& v) { return autoreset_name(v.config().autoreset); }, "The auto-reset mode.")
        .def_prop_ro("max_steps", [](const Vec& v) { return max_steps_to_python(v.config().rules); }, nb::sig("def max_steps(self) -> int | None"),
                     "The episode length limit, or None.")
        .def_prop_ro("illegal", [](const Vec& v) { return illegal_name(v.config().rules); }, nb::sig("def illegal(self) -> str"),
                     "What an illegal action does: 'raise' or 'substitute'.")
        .def_prop_ro("illegal_penalty", [](const Vec& v) { return static_cast<double>(v.config().rules.illegal_penalty); },
                     "Subtracted from the reward of a substituted action.")
        .def("__len__", [](const Vec& v) { return v.size(); });
}

// "VecGame(3, seed=2, num_threads=1, colors=4, visible=2)".
template <class Vec>
std::string batch_repr(const char* name, const Vec& v) {
    return std::string(name) + "(" + std::to_string(v.size()) + ", seed=" + std::to_string(v.config().seed) + ", num_threads=" +
           std::to_string(v.num_threads()) + ", colors=" + std::to_string(v.config().colors) + ", visible=" +
           std::to_string(v.config().visible) + ")";
}

}  // namespace velmo_game
