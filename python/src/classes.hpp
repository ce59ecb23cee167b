// The Python classes of velmo and the core value each one wraps.
#pragma once

#include "frame.hpp"
#include "hand.hpp"
#include "pair.hpp"
#include "rotation.hpp"

namespace velmo::py {

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
