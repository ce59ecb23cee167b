#include "cpu_path.hpp"

#include <array>
#include <atomic>
#include <cstddef>

#include "bit_kernels.hpp"

namespace velmo {
namespace {

constexpr std::size_t kNumCpuPaths = 3;

const bit_kernels::KernelTable* kernels_of(CpuPath path) {
    switch (path) {
        case CpuPath::Portable: return bit_kernels::portable_kernels();
        case CpuPath::Bmi2Avx2: return bit_kernels::bmi2_avx2_kernels();
        case CpuPath::Avx512: return bit_kernels::avx512_kernels();
    }
    return nullptr;
}

// Called only while the supported paths are first built (under the function-local static's
// one-time initialisation), so the processor's features are read once, on one thread.
bool processor_runs(CpuPath path) {
#if defined(__x86_64__)
    __builtin_cpu_init();
    const bool bmi2_avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") &&
                           __builtin_cpu_supports("popcnt");
    const bool avx512 = bmi2_avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512bitalg");
    switch (path) {
        case CpuPath::Portable: return true;
        case CpuPath::Bmi2Avx2: return bmi2_avx2;
        case CpuPath::Avx512: return avx512;
    }
    return false;
#else
    return path == CpuPath::Portable;
#endif
}

struct SupportedPaths {
    std::array<CpuPath, kNumCpuPaths> paths{};
    std::size_t count = 0;
};

// Decided once per process; the function-local static makes the first use thread-safe.
const SupportedPaths& supported() {
    static const SupportedPaths paths = [] {
        SupportedPaths found;
        for (const CpuPath path : {CpuPath::Portable, CpuPath::Bmi2Avx2, CpuPath::Avx512}) {
            if (kernels_of(path) != nullptr && processor_runs(path)) found.paths[found.count++] = path;
        }
        return found;
    }();
    return paths;
}

struct ActivePath {
    std::atomic<CpuPath> path;
    std::atomic<const bit_kernels::KernelTable*> kernels;
};

ActivePath& active() {
    static ActivePath state = [] {
        const auto& paths = supported();
        const CpuPath best = paths.paths[paths.count - 1];
        return ActivePath{best, kernels_of(best)};
    }();
    return state;
}

}  // namespace

std::span<const CpuPath> supported_cpu_paths() {
    const auto& paths = supported();
    return {paths.paths.data(), paths.count};
}

CpuPath active_cpu_path() { return active().path.load(std::memory_order_relaxed); }

bool force_cpu_path(CpuPath path) {
    for (const CpuPath supported_path : supported_cpu_paths()) {
        if (supported_path != path) continue;
        active().kernels.store(kernels_of(path), std::memory_order_relaxed);
        active().path.store(path, std::memory_order_relaxed);
        return true;
    }
    return false;
}

const bit_kernels::KernelTable& bit_kernels::active_kernels() {
    return *active().kernels.load(std::memory_order_relaxed);
}

}  // namespace velmo
