// The NumPy arrays a batch owns: written by the core through their addresses while the
// interpreter lock is released, and handed to Python read-only.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

namespace velmo_game {

namespace nb = nanobind;

template <class T>
T* data_of(const nb::object& array) {
    const auto address = nb::cast<std::uintptr_t>(array.attr("ctypes").attr("data"));
    return reinterpret_cast<T*>(address);
}

// Arrays of zeros whose memory the holder (a batch, a buffer) shares with the arrays handed to
// Python. Each NumPy array is a read-only view of memory that does not belong to NumPy: NumPy
// refuses to resize it or to make it writeable again, and whatever Python does to the array
// object (even __setstate__, which drops its base) leaves the memory alive for the holder, whose
// own reference is released only with it.
class OwnedArrays {
public:
    // `shape` zeros of T (bool for NumPy's bool dtype).
    template <class T>
    nb::object zeros(std::initializer_list<std::size_t> shape) {
        std::size_t count = 1;
        for (const std::size_t extent : shape) count *= extent;
        // calloc: a large batch's pages are zeroed by the system as they are first touched,
        // inside the batch's first reset, which Ctrl-C can stop, not in one long memset here.
        static_assert(std::is_trivial_v<T>, "calloc's zero bytes must be the values' zeros");
        T* const raw = static_cast<T*>(std::calloc(count > 0 ? count : 1, sizeof(T)));
        if (raw == nullptr) throw std::bad_alloc();
        std::shared_ptr<T[]> memory(raw, [](T* p) noexcept { std::free(p); });
        auto keep = std::make_unique<std::shared_ptr<T[]>>(memory);
        nb::capsule owner(keep.get(), [](void* p) noexcept { delete static_cast<std::shared_ptr<T[]>*>(p); });
        keep.release();  // the capsule deletes it from here on
        blocks_.push_back(memory);
        return nb::cast(nb::ndarray<nb::numpy, const T>(memory.get(), shape.size(), shape.begin(), owner));
    }

private:
    std::vector<std::shared_ptr<void>> blocks_;
};

}  // namespace velmo_game
