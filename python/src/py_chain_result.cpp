// ChainResult: what chain() returns, the number of chain steps and the total score.
#include "chain/chain.hpp"
#include "classes.hpp"

namespace velmo::py {
namespace {

std::int64_t chain(const ChainResult& result) { return result.chain; }
std::int64_t score(const ChainResult& result) { return result.score; }

PyGetSetDef kGetters[] = {
    getter<&chain>("chain"),
    getter<&score>("score"),
    kEndOfGetters,
};

}  // namespace

PyTypeObject* PyClass<ChainResult>::type() {
    static PyTypeObject* cache = nullptr;
    return cached_type(cache, [] { return build_class<ChainResult>("velmo.ChainResult", {{Py_tp_getset, kGetters}}); });
}

}  // namespace velmo::py
