// The Python classes of velmo and the core value each one wraps.
#pragma once

#include "chain/chain.hpp"
#include "field/array_field.hpp"
#include "field/bit_field.hpp"
#include "frame.hpp"
#include "hand.hpp"
#include "pair.hpp"
#include "rotation.hpp"

namespace velmo::py {

template <>
struct PyClass<BitField> {
    static constexpr const char* kBindingName = "PyField";
    static PyTypeObject* type();
};
template <>
struct PyClass<ArrayField<RegularPuyoType>> {
    static constexpr const char* kBindingName = "PyArrayField";
    static PyTypeObject* type();
};
template <>
struct PyClass<ChainResult> {
    static PyTypeObject* type();
};
template <>
struct PyClass<FoundChain> {
    static PyTypeObject* type();
};

// PuyoType wraps nothing: it only carries the eight constants.
struct PuyoTypeConstants {};

template <>
struct PyClass<PuyoTypeConstants> {
    static PyTypeObject* type();
};
template <>
struct PyClass<Rotation> {
    static PyTypeObject* type();
};
template <>
struct PyClass<Pair<RegularPuyoType>> {
    static PyTypeObject* type();
};
template <>
struct PyClass<Hand> {
    static PyTypeObject* type();
};

}  // namespace velmo::py
