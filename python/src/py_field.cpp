// Field: the bit field. Reports cells as Python numbers (its bit codes are the same numbers).
#include "py_field_common.hpp"

namespace velmo::py {
namespace {

using Entries = FieldEntries<BitField>;

Ref find_chain_by_removal(const BitField& field) {
    const std::vector<FoundChain> found = field.find_chain_by_removal();
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(found.size())));
    for (std::size_t i = 0; i < found.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), new_instance(found[i]).release());
    }
    return list;
}

auto kMethods = join_methods(Entries::head(),
                             std::array{noargs_method<Borrow::Shared, &find_chain_by_removal>("find_chain_by_removal")},
                             Entries::tail());

}  // namespace

PyTypeObject* PyClass<BitField>::type() {
    static PyTypeObject* cache = nullptr;
    return cached_type(cache, [] {
        return build_class<BitField>(
            "velmo.Field", {
                               {Py_tp_new, reinterpret_cast<void*>(&default_constructor_entry<BitField>)},
                               {Py_tp_methods, kMethods.data()},
                               {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_entry<&Entries::equal>)},
                           });
    });
}

}  // namespace velmo::py
