// FoundChain: one result of the chain search, the chain that removing one group fires.
#include "classes.hpp"
#include "field/bit_field.hpp"

namespace velmo::py {
namespace {

std::int64_t score(const FoundChain& found) { return found.score; }
std::int64_t chain(const FoundChain& found) { return found.chain; }

std::string repr(const FoundChain& found) {
    return "<FoundChain object PyFoundChain { chain: " + std::to_string(found.chain) +
           ", score: " + std::to_string(found.score) + " }>";
}

PyGetSetDef kGetters[] = {
    getter<&score>("score"),
    getter<&chain>("chain"),
    kEndOfGetters,
};

}  // namespace

PyTypeObject* PyClass<FoundChain>::type() {
    static PyTypeObject* cache = nullptr;
    return cached_type(cache, [] {
        return build_class<FoundChain>("velmo.FoundChain", {
                                                               {Py_tp_getset, kGetters},
                                                               {Py_tp_repr, reinterpret_cast<void*>(&text_entry<&repr>)},
                                                           });
    });
}

}  // namespace velmo::py
