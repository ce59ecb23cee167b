// The processor paths of the bit field's bulk operations (gravity, vanishing, the chain loop and
// the chain search). Every path gives bit-identical results; the fastest one the processor
// supports is chosen once per process. Tests and benchmarks may switch to another supported path.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace velmo {

enum class CpuPath : std::uint8_t {
    Portable,  // plain 64-bit integer code, any processor
    Bmi2Avx2,  // x86-64 with BMI2 bit gather/scatter, POPCNT and AVX2
    Avx512,    // x86-64 with the above and AVX-512F/VL/BW/BITALG (ternary logic, 16-bit popcount)
};

// "portable", "bmi2-avx2", "avx512".
constexpr std::string_view to_text(CpuPath path) {
    switch (path) {
        case CpuPath::Portable: return "portable";
        case CpuPath::Bmi2Avx2: return "bmi2-avx2";
        case CpuPath::Avx512: return "avx512";
    }
    return "portable";
}

// The paths this processor and this build can run, from the slowest to the fastest.
std::span<const CpuPath> supported_cpu_paths();

CpuPath active_cpu_path();

// Switches every later bulk operation of the process to `path`; refuses (returns false, changes
// nothing) a path that is not supported.
bool force_cpu_path(CpuPath path);

}  // namespace velmo
