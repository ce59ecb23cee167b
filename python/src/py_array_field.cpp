// ArrayField: the byte-per-cell field, with purple. Reports cells as array codes.
#include "py_field_common.hpp"

namespace velmo::py {
namespace {

using Entries = FieldEntries<ArrayField<RegularPuyoType>>;

auto kMethods = join_methods(Entries::head(), Entries::tail());

}  // namespace

PyTypeObject* PyClass<ArrayField<RegularPuyoType>>::type() {
    static PyTypeObject* cache = nullptr;
    return cached_type(cache, [] {
        return build_class<ArrayField<RegularPuyoType>>(
            "velmo.ArrayField", {
                                    {Py_tp_new, reinterpret_cast<void*>(&default_constructor_entry<ArrayField<RegularPuyoType>>)},
                                    {Py_tp_methods, kMethods.data()},
                                    {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_entry<&Entries::equal>)},
                                });
    });
}

}  // namespace velmo::py
