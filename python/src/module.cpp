// PyInit_velmo: creates the module, its empty docstring and __all__, and registers the classes
// in their published order. The only symbol the shared object exports.
#include <cstdlib>
#include <string>

#include "classes.hpp"
#include "field/cpu_path.hpp"

#ifndef VELMO_VERSION
#error "VELMO_VERSION (the distribution's version) is set by python/CMakeLists.txt"
#endif

namespace velmo::py {
namespace {

PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "velmo", nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr};

struct Registration {
    const char* name;
    PyTypeObject* (*type)();
};

constexpr Registration kClasses[] = {
    {"Field", &PyClass<BitField>::type},
    {"ArrayField", &PyClass<ArrayField<RegularPuyoType>>::type},
    {"PuyoType", &PyClass<PuyoTypeConstants>::type},
    {"ChainResult", &PyClass<ChainResult>::type},
    {"Rotation", &PyClass<Rotation>::type},
    {"Hand", &PyClass<Hand>::type},
    {"Pair", &PyClass<Pair<RegularPuyoType>>::type},
    {"FoundChain", &PyClass<FoundChain>::type},
};

// __all__ as a list, created when the module has none yet.
Ref all_list(PyObject* module) {
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError{};
        PyErr_Clear();
        all = check(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) throw PythonError{};
    }
    if (!PyList_Check(all.get())) raise(PyExc_TypeError, "'__all__' of module velmo is not a list");
    return all;
}

// Lists a name in __all__, then binds it: the docstring goes through the same path as the classes.
void add_public(PyObject* module, PyObject* all, const char* name, PyObject* value) {
    const Ref text = check(PyUnicode_FromString(name));
    if (PyList_Append(all, text.get()) < 0) throw PythonError{};
    if (PyObject_SetAttrString(module, name, value) < 0) throw PythonError{};
}

// VELMO_CPU_PATH=portable (or another path name) pins the bit field's processor path for this
// process, so that one machine can check every path it supports. An unusable value only warns.
void apply_cpu_path_override() {
    const char* wanted = std::getenv("VELMO_CPU_PATH");
    if (wanted == nullptr || *wanted == '\0') return;
    std::string known;
    for (const CpuPath path : supported_cpu_paths()) {
        if (to_text(path) == wanted) {
            force_cpu_path(path);
            return;
        }
        known += known.empty() ? "" : ", ";
        known += to_text(path);
    }
    if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1, "VELMO_CPU_PATH=%s is not a processor path of this machine (%s)",
                         wanted, known.c_str()) < 0) {
        throw PythonError{};
    }
}

PyObject* init() {
    Ref module = check(PyModule_Create(&kModule));
#ifdef Py_GIL_DISABLED
    // The borrow flags are plain counters: they are only sound while the interpreter lock exists.
    if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_USED) < 0) throw PythonError{};
#endif
    apply_cpu_path_override();
    const Ref all = all_list(module.get());
    const Ref doc = check(PyUnicode_FromString(""));
    add_public(module.get(), all.get(), "__doc__", doc.get());
    for (const auto& registration : kClasses) {
        PyTypeObject* type = registration.type();
        if (type == nullptr) throw PythonError{};
        add_public(module.get(), all.get(), registration.name, reinterpret_cast<PyObject*>(type));
    }
    // The distribution's version, for a user at the prompt; not one of the published names.
    if (PyModule_AddStringConstant(module.get(), "__version__", VELMO_VERSION) < 0) throw PythonError{};
    return module.release();
}

}  // namespace
}  // namespace velmo::py

PyMODINIT_FUNC PyInit_velmo() {
    return velmo::py::guarded([] { return velmo::py::init(); }, static_cast<PyObject*>(nullptr));
}
