// The conversions both batch classes share (batch_binding.hpp).
#include "batch_binding.hpp"

#include <nanobind/stl/string.h>

#include <thread>

namespace velmo_game {

namespace {

velmo::AutoReset autoreset_from_python(nb::handle argument) {
    if (!nb::isinstance<nb::str>(argument)) raise_type_error("autoreset must be a str, not " + python_type_name(argument));
    const auto name = nb::cast<std::string>(argument);
    if (name == "next_step") return velmo::AutoReset::NextStep;
    if (name == "same_step") return velmo::AutoReset::SameStep;
    if (name == "disabled") return velmo::AutoReset::Disabled;
    raise_value_error("autoreset must be 'next_step', 'same_step' or 'disabled', not '" + name + "'");
}

unsigned default_threads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

}  // namespace

const char* autoreset_name(velmo::AutoReset mode) {
    switch (mode) {
        case velmo::AutoReset::NextStep: return "next_step";
        case velmo::AutoReset::SameStep: return "same_step";
        case velmo::AutoReset::Disabled: return "disabled";
    }
    return "next_step";
}

velmo::BatchConfig batch_config_from_python(nb::handle num_envs, nb::handle seed, nb::handle num_threads, nb::handle colors,
                                            nb::handle visible, nb::handle autoreset, nb::handle max_steps, nb::handle illegal,
                                            double illegal_penalty, nb::handle first_copy) {
    velmo::BatchConfig config;
    config.num_envs = static_cast<std::size_t>(int_in_range(num_envs, "num_envs", 1, 1 << 24));
    config.seed = seed_from_python(seed, "seed");
    config.num_threads = num_threads.is_none() ? default_threads() : static_cast<unsigned>(int_in_range(num_threads, "num_threads", 1, 256));
    config.colors = static_cast<unsigned>(int_in_range(colors, "colors", 3, 4));
    config.visible = static_cast<unsigned>(int_in_range(visible, "visible", 0, velmo::kMaxVisiblePairs));
    config.autoreset = autoreset_from_python(autoreset);
    config.rules = env_rules_from_python(max_steps, illegal, illegal_penalty);
    config.first_copy = seed_from_python(first_copy, "first_copy");
    return config;
}

ResetSeeds reset_seeds_from_python(nb::handle seed, std::size_t count) {
    ResetSeeds seeds;
    if (seed.is_none()) return seeds;
    // A list, a tuple or an array holds one seed per item; anything else is one seed, and the
    // seed conversion's TypeError names what it was.
    const bool array = !PyLong_Check(seed.ptr()) && nb::hasattr(seed, "__array__");
    if (!array && !PyList_Check(seed.ptr()) && !PyTuple_Check(seed.ptr())) {
        seeds.whole = seed_from_python(seed, "seed");
        return seeds;
    }
    const nb::object items = array ? nb::object(seed.attr("tolist")()) : nb::borrow(seed);
    if (!PyList_Check(items.ptr()) && !PyTuple_Check(items.ptr())) {  // a NumPy scalar or 0-d array
        seeds.whole = seed_from_python(items, "seed");
        return seeds;
    }
    const std::size_t given = nb::len(items);
    if (given != count) {
        raise_value_error("seed must be one int or " + std::to_string(count) + " of them (one per item), not " + std::to_string(given));
    }
    seeds.each.reserve(count);
    std::size_t i = 0;
    for (nb::handle item : items) {
        const std::string name = "seed[" + std::to_string(i++) + "]";
        seeds.each.push_back(seed_from_python(item, name.c_str()));
    }
    return seeds;
}

}  // namespace velmo_game
