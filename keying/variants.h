// Selecting a keying variant by hand, for tests and benchmarks. Users never
// choose: KeyingPass picks the fastest variant once per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace keying {

using PassFn = void (*)(const std::uint8_t* red1, const std::uint8_t* red2, const std::uint8_t* red3,
                        const std::uint8_t* green1, const std::uint8_t* green2, const std::uint8_t* green3,
                        std::uint8_t* out, std::size_t byteCount);

// Ordered from the reference up; a later variant is preferred when the CPU runs it.
enum class Variant { Scalar, Sse2, Avx2, Avx512 };

std::string_view VariantName(Variant v);

// Every variant this build contains, runnable here or not.
std::span<const Variant> BuiltVariants();

// Whether this CPU and operating system can run the variant.
bool CanRun(Variant v);

// The pass of one variant. Throws std::runtime_error naming the variant when
// this CPU cannot run it or the build does not contain it.
PassFn PassFor(Variant v);

// The variant KeyingPass uses in this process.
Variant ActiveVariant();

}  // namespace keying
