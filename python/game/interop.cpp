#include "interop.hpp"

#include <climits>
#include <cmath>
#include <limits>

#include "field/field_state.hpp"
#include "game/game.hpp"

namespace velmo_game {
namespace {

// Leaked on purpose: the types live as long as the velmo module, which is never unloaded, and a
// static nb::object would be released after the interpreter has gone.
PyObject* g_field_type = nullptr;
PyObject* g_pair_type = nullptr;

bool is_instance_of(nb::handle value, PyObject* type) { return PyObject_TypeCheck(value.ptr(), reinterpret_cast<PyTypeObject*>(type)) != 0; }

// Array codes (velmo.Pair's getters) of the four colours a game deals, to bit codes.
std::optional<velmo::BitPuyoType> game_color_from_array_code(long code) {
    switch (code) {
        case 3: return velmo::BitPuyoType::Red;
        case 4: return velmo::BitPuyoType::Blue;
        case 5: return velmo::BitPuyoType::Yellow;
        case 6: return velmo::BitPuyoType::Green;
        default: return std::nullopt;
    }
}

}  // namespace

void import_velmo() {
    nb::module_ velmo = nb::module_::import_("velmo");
    g_field_type = nb::object(velmo.attr("Field")).release().ptr();
    g_pair_type = nb::object(velmo.attr("Pair")).release().ptr();
}

std::string python_type_name(nb::handle value) {
    PyTypeObject* type = Py_TYPE(value.ptr());
    nb::object module = nb::getattr(nb::handle(reinterpret_cast<PyObject*>(type)), "__module__", nb::none());
    std::string name = type->tp_name;
    if (nb::isinstance<nb::str>(module)) {
        const std::string module_name = nb::cast<std::string>(module);
        if (module_name != "builtins" && name.find('.') == std::string::npos) name = module_name + "." + name;
    }
    return name;
}

void raise_value_error(const std::string& message) { throw nb::value_error(message.c_str()); }
void raise_type_error(const std::string& message) { throw nb::type_error(message.c_str()); }

velmo::BitField field_from_python(nb::handle field, const char* argument) {
    if (!is_instance_of(field, g_field_type)) {
        raise_type_error(std::string(argument) + " must be a velmo.Field, not " + python_type_name(field));
    }
    nb::object state = field.attr("__getstate__")();
    if (!nb::isinstance<nb::bytes>(state) || nb::len(state) != velmo::kBitFieldStateSize) {
        raise_value_error(std::string(argument) + ": the field's state is not the 56 bytes of a velmo.Field");
    }
    const auto bytes = nb::borrow<nb::bytes>(state);
    const auto* data = static_cast<const std::uint8_t*>(static_cast<const void*>(bytes.c_str()));
    auto decoded = velmo::decode_bit_field_state({data, bytes.size()});
    if (!decoded) raise_value_error(std::string(argument) + ": the field's state cannot be read");
    if (!velmo::is_playable_field(decoded.value())) {
        raise_value_error(std::string(argument) +
                          " holds cells no game can play on (broken walls or a cell with the unused code 3)");
    }
    return decoded.value();
}

nb::object field_to_python(const velmo::BitField& field) {
    const auto state = velmo::encode_state(field);
    nb::handle type(g_field_type);
    nb::object result = type.attr("__new__")(type);
    result.attr("__setstate__")(nb::bytes(state.bytes().data(), state.bytes().size()));
    return result;
}

velmo::GamePair pair_from_python(nb::handle pair, const char* argument) {
    if (!is_instance_of(pair, g_pair_type)) {
        raise_type_error(std::string(argument) + " must hold velmo.Pair values, not " + python_type_name(pair));
    }
    const long child = nb::cast<long>(pair.attr("child"));
    const long axis = nb::cast<long>(pair.attr("axis"));
    const auto child_color = game_color_from_array_code(child);
    const auto axis_color = game_color_from_array_code(axis);
    if (!child_color || !axis_color) {
        raise_value_error(std::string(argument) +
                          ": a game's pairs are made of RED, BLUE, YELLOW and GREEN puyos only (PURPLE does not fit the bit field)");
    }
    return velmo::GamePair{{*child_color, *axis_color}};
}

nb::object pair_to_python(velmo::GamePair pair) {
    return nb::handle(g_pair_type)(velmo::bit_code(pair.child()), velmo::bit_code(pair.axis()));
}

std::vector<velmo::GamePair> pairs_from_python(nb::handle pairs, const char* argument) {
    if (nb::isinstance<nb::str>(pairs) || nb::isinstance<nb::bytes>(pairs) || !PySequence_Check(pairs.ptr())) {
        raise_type_error(std::string(argument) + " must be a PairSequence or a sequence of velmo.Pair, not " +
                         python_type_name(pairs));
    }
    const std::size_t count = nb::len(pairs);
    if (count == 0 || count > velmo::kMaxExplicitPairs) {
        raise_value_error(std::string(argument) + " must hold 1 to " + std::to_string(velmo::kMaxExplicitPairs) +
                          " pairs, not " + std::to_string(count));
    }
    std::vector<velmo::GamePair> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) out.push_back(pair_from_python(pairs[i], argument));
    return out;
}

std::uint64_t seed_from_python(nb::handle seed, const char* argument) {
    if (!PyLong_Check(seed.ptr()) || PyBool_Check(seed.ptr())) {
        raise_type_error(std::string(argument) + " must be an int, not " + python_type_name(seed));
    }
    int overflow = 0;
    const long long as_signed = PyLong_AsLongLongAndOverflow(seed.ptr(), &overflow);
    if (overflow == 0 && as_signed == -1 && PyErr_Occurred()) throw nb::python_error();
    if (overflow < 0 || (overflow == 0 && as_signed < 0)) {
        raise_value_error(std::string(argument) + " must be in 0..2**64-1, not " + nb::cast<std::string>(nb::str(seed)));
    }
    if (overflow == 0) return static_cast<std::uint64_t>(as_signed);
    const unsigned long long value = PyLong_AsUnsignedLongLong(seed.ptr());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        PyErr_Clear();
        raise_value_error(std::string(argument) + " must be in 0..2**64-1, not " + nb::cast<std::string>(nb::str(seed)));
    }
    return value;
}

std::int64_t int_in_range(nb::handle value, const char* argument, std::int64_t lo, std::int64_t hi) {
    if (!PyIndex_Check(value.ptr()) || PyBool_Check(value.ptr())) {
        raise_type_error(std::string(argument) + " must be an int, not " + python_type_name(value));
    }
    nb::object index = nb::steal(PyNumber_Index(value.ptr()));
    if (!index.is_valid()) throw nb::python_error();
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow == 0 && v == -1 && PyErr_Occurred()) throw nb::python_error();
    if (overflow != 0 || v < lo || v > hi) {
        raise_value_error(std::string(argument) + " must be in " + std::to_string(lo) + ".." + std::to_string(hi) +
                          ", not " + nb::cast<std::string>(nb::str(index)));
    }
    return v;
}

std::string hand_text(std::uint64_t move) { return velmo::to_text(velmo::kAllHands[move]); }

}  // namespace velmo_game

namespace velmo_game {

velmo::EnvRules env_rules_from_python(nb::handle max_steps, nb::handle illegal_argument, double illegal_penalty) {
    velmo::EnvRules rules;
    rules.max_steps = max_steps.is_none() ? 0 : static_cast<std::uint64_t>(int_in_range(max_steps, "max_steps", 1, INT64_MAX));
    if (!nb::isinstance<nb::str>(illegal_argument)) raise_type_error("illegal must be a str, not " + python_type_name(illegal_argument));
    const std::string illegal = nb::cast<std::string>(illegal_argument);
    if (illegal == "raise") {
        rules.illegal = velmo::IllegalPolicy::Raise;
    } else if (illegal == "substitute") {
        rules.illegal = velmo::IllegalPolicy::Substitute;
    } else {
        raise_value_error("illegal must be 'substitute' or 'raise', not '" + illegal + "'");
    }
    // Rewards are float32: a penalty past its range would not convert.
    if (!std::isfinite(illegal_penalty) || std::fabs(illegal_penalty) > std::numeric_limits<float>::max()) {
        raise_value_error("illegal_penalty must be a finite float32 number, not " + std::to_string(illegal_penalty));
    }
    rules.illegal_penalty = static_cast<float>(illegal_penalty);
    return rules;
}

nb::object max_steps_to_python(const velmo::EnvRules& rules) {
    return rules.max_steps == 0 ? nb::object(nb::none()) : nb::object(nb::int_(rules.max_steps));
}

velmo::RewardKind reward_kind_from_python(nb::handle reward) {
    if (!nb::isinstance<nb::str>(reward)) raise_type_error("reward must be a str, not " + python_type_name(reward));
    const auto name = nb::cast<std::string>(reward);
    if (name == "score") return velmo::RewardKind::Score;
    if (name == "log_score") return velmo::RewardKind::LogScore;
    if (name == "chain") return velmo::RewardKind::Chain;
    raise_value_error("reward must be 'score', 'log_score' or 'chain', not '" + name + "'");
}

const char* reward_name(velmo::RewardKind kind) {
    switch (kind) {
        case velmo::RewardKind::Score: return "score";
        case velmo::RewardKind::LogScore: return "log_score";
        case velmo::RewardKind::Chain: return "chain";
    }
    return "score";
}

const char* illegal_name(const velmo::EnvRules& rules) { return rules.illegal == velmo::IllegalPolicy::Raise ? "raise" : "substitute"; }

}  // namespace velmo_game
