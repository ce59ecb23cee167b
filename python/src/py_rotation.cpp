// Rotation: TOP, LEFT, BOTTOM, RIGHT; no constructor, compared by value.
#include "classes.hpp"

namespace velmo::py {
namespace {

std::string str(const Rotation& rotation) { return std::string(to_text(rotation)); }

std::string repr(const Rotation& rotation) { return "<Rotation object " + str(rotation) + ">"; }

bool equal(const Rotation& a, const Rotation& b) { return a == b; }

template <Rotation R>
PyObject* constant(PyTypeObject* cls) {
    return guarded([cls] { return new_instance(cls, R).release(); }, static_cast<PyObject*>(nullptr));
}

constexpr ClassAttribute kAttributes[] = {
    {"TOP", &constant<Rotation::Top>},
    {"LEFT", &constant<Rotation::Left>},
    {"BOTTOM", &constant<Rotation::Bottom>},
    {"RIGHT", &constant<Rotation::Right>},
};

}  // namespace

PyTypeObject* PyClass<Rotation>::type() {
    static PyTypeObject* cache = nullptr;
    return cached_type(cache, [] {
        return build_class<Rotation>("velmo.Rotation",
                                     {
                                         {Py_tp_str, reinterpret_cast<void*>(&text_entry<&str>)},
                                         {Py_tp_repr, reinterpret_cast<void*>(&text_entry<&repr>)},
                                         {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_entry<&equal>)},
                                     },
                                     kAttributes);
    });
}

}  // namespace velmo::py
