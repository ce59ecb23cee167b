// Hand: a placement, a column and a rotation. Python sees the column counted from 0; the core
// stores it counted from the left wall (plus one), which is also what its text form shows.
#include <algorithm>

#include "classes.hpp"
#include "state_codec.hpp"

namespace velmo::py {
namespace {

constexpr std::string_view kUnwrapPrefix = "called `Result::unwrap()` on an `Err` value: ";

Rotation rotation_argument(PyObject* argument) {
    Object<Rotation>* rotation = as_instance<Rotation>(argument);
    if (rotation == nullptr) {
        PyErr_Format(PyExc_TypeError, "argument 'rotation' must be a Rotation, not '%s'", Py_TYPE(argument)->tp_name);
        fail_with_current_error(kUnwrapPrefix);
    }
    return *Instance<Rotation>(rotation);
}

// Hand() is column 0, top (the form unpickling starts from); Hand(x, rotation) accepts any column.
Hand construct(std::span<PyObject* const> args) {
    if (args.empty()) return Hand{};
    if (args.size() != 2) fail_not_implemented();
    const std::uint64_t x = to_unsigned_or_fail(args[0], kUnwrapPrefix);
    return Hand{x + 1, rotation_argument(args[1])};
}

std::uint64_t x(const Hand& hand) { return hand.x - 1; }
Ref rotation(const Hand& hand) { return new_instance(hand.rotation); }

Ref enumerate() {
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(kAllHands.size())));
    for (std::size_t i = 0; i < kAllHands.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), new_instance(kAllHands[i]).release());
    }
    return list;
}

std::string repr(const Hand& hand) { return "<Hand object " + to_text(hand) + ">"; }

bool equal(const Hand& a, const Hand& b) { return a == b; }

Ref get_state(const Hand& hand) { return to_python(encode_state(hand).bytes(), nullptr); }

void set_state(Hand& hand, StateBytes state) { hand = unwrap(decode_hand_state(state.bytes)); }

constexpr Signature<0> kNew{"PyHand", "__new__", {}, true};
constexpr Signature<1> kSetState{"PyHand", "__setstate__", {"state"}};
constexpr Signature<0> kGetState{"PyHand", "__getstate__", {}};

PyGetSetDef kGetters[] = {
    getter<&x>("x"),
    getter<&rotation>("rotation"),
    kEndOfGetters,
};

PyMethodDef kMethods[] = {
    ignoring_class_method<&enumerate>("enumerate"),
    method<Borrow::Exclusive, kSetState, &set_state>(),
    method<Borrow::Shared, kGetState, &get_state>(),
    kEndOfMethods,
};

}  // namespace

PyTypeObject* PyClass<Hand>::type() {
    static PyTypeObject* cache = nullptr;
    return cached_type(cache, [] {
        return build_class<Hand>("velmo.Hand",
                                 {
                                     {Py_tp_new, reinterpret_cast<void*>(&constructor_entry<kNew, &construct>)},
                                     {Py_tp_getset, kGetters},
                                     {Py_tp_methods, kMethods},
                                     {Py_tp_repr, reinterpret_cast<void*>(&text_entry<&repr>)},
                                     {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_entry<&equal>)},
                                 });
    });
}

}  // namespace velmo::py
