// Atomic reference counts for host handles, behind one small portability seam.
// On Windows the counts use the system's interlocked calls, as the host does;
// elsewhere the standard atomic view of a plain 32-bit integer.
#pragma once

#include <cstdint>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <atomic>
#endif

namespace interlocked {

#ifdef _WIN32
using Count = LONG;

// Both return the new value.
inline Count Increment(Count* count) { return InterlockedIncrement(count); }
inline Count Decrement(Count* count) { return InterlockedDecrement(count); }
#else
using Count = std::int32_t;

inline Count Increment(Count* count) { return std::atomic_ref<Count>(*count).fetch_add(1) + 1; }
// acq_rel (here seq_cst) so the thread that reaches 0 sees every other owner's writes before deleting.
inline Count Decrement(Count* count) { return std::atomic_ref<Count>(*count).fetch_sub(1) - 1; }
#endif

}  // namespace interlocked
