// Pair: a falling piece of two puyos. Built from Python numbers, it reports array codes.
#include "classes.hpp"
#include "state_codec.hpp"

namespace velmo::py {
namespace {

using RegularPair = Pair<RegularPuyoType>;

RegularPuyoType color_argument(PyObject* argument) {
    return puyo_from_python_number<RegularPuyoType>(to_unsigned_or_fail(argument, "Invalid argument: "));
}

// Pair() is RED/RED (the form unpickling starts from); Pair(child, axis) takes Python numbers.
RegularPair construct(std::span<PyObject* const> args) {
    if (args.empty()) return {{RegularPuyoType::Red, RegularPuyoType::Red}};
    if (args.size() != 2) fail_not_implemented();
    RegularPair pair{};
    pair.colors[0] = color_argument(args[0]);
    pair.colors[1] = color_argument(args[1]);
    return pair;
}

std::uint64_t axis(const RegularPair& pair) { return array_code(pair.axis()); }
std::uint64_t child(const RegularPair& pair) { return array_code(pair.child()); }

std::uint64_t item(const RegularPair& pair, Py_ssize_t index) {
    if (index != 0 && index != 1) raise(PyExc_RuntimeError, "Invalid index " + std::to_string(index));
    return array_code(pair.colors[static_cast<std::size_t>(index)]);
}

std::string repr(const RegularPair& pair) { return "<Pair object " + debug(pair) + ">"; }

bool equal(const RegularPair& a, const RegularPair& b) { return a == b; }

Ref get_state(const RegularPair& pair) { return to_python(encode_state(pair).bytes(), nullptr); }

void set_state(RegularPair& pair, StateBytes state) { pair = unwrap(decode_pair_state(state.bytes)); }

constexpr Signature<0> kNew{"PyPair", "__new__", {}, true};
constexpr Signature<1> kSetState{"PyPair", "__setstate__", {"state"}};
constexpr Signature<0> kGetState{"PyPair", "__getstate__", {}};

PyGetSetDef kGetters[] = {
    getter<&axis>("axis"),
    getter<&child>("child"),
    kEndOfGetters,
};

PyMethodDef kMethods[] = {
    method<Borrow::Exclusive, kSetState, &set_state>(),
    method<Borrow::Shared, kGetState, &get_state>(),
    kEndOfMethods,
};

}  // namespace

PyTypeObject* PyClass<RegularPair>::type() {
    static PyTypeObject* cache = nullptr;
    return cached_type(cache, [] {
        return build_class<RegularPair>("velmo.Pair",
                                        {
                                            {Py_tp_new, reinterpret_cast<void*>(&constructor_entry<kNew, &construct>)},
                                            {Py_tp_getset, kGetters},
                                            {Py_tp_methods, kMethods},
                                            {Py_tp_repr, reinterpret_cast<void*>(&text_entry<&repr>)},
                                            {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_entry<&equal>)},
                                            {Py_sq_item, reinterpret_cast<void*>(&item_entry<&item>)},
                                        });
    });
}

}  // namespace velmo::py
