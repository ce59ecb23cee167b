// The NumPy arrays a batch owns: allocated once by NumPy, written by the core through their
// addresses while the interpreter lock is released.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>

namespace velmo_game {

namespace nb = nanobind;

inline nb::object numpy_zeros(nb::object shape, const char* dtype) {
    return nb::module_::import_("numpy").attr("zeros")(shape, nb::arg("dtype") = dtype);
}

template <class T>
T* data_of(const nb::object& array) {
    const auto address = nb::cast<std::uintptr_t>(array.attr("ctypes").attr("data"));
    return reinterpret_cast<T*>(address);
}

}  // namespace velmo_game
