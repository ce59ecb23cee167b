// PuyoType: the Python numbers of the eight puyo types, as plain int class attributes.
// Python code passes and receives puyo types as these ints; the class has no instances.
#include "classes.hpp"

namespace velmo::py {
namespace {

template <long Number>
PyObject* python_number(PyTypeObject*) {
    return PyLong_FromLong(Number);
}

constexpr ClassAttribute kAttributes[] = {
    {"EMPTY", &python_number<0>},  {"OJAMA", &python_number<1>}, {"WALL", &python_number<2>},
    {"RED", &python_number<4>},    {"BLUE", &python_number<5>},  {"YELLOW", &python_number<6>},
    {"GREEN", &python_number<7>},  {"PURPLE", &python_number<8>},
};

}  // namespace

PyTypeObject* PyClass<PuyoTypeConstants>::type() {
    static PyTypeObject* cache = nullptr;
    return cached_type(cache, [] { return build_class<PuyoTypeConstants>("velmo.PuyoType", {}, kAttributes); });
}

}  // namespace velmo::py
