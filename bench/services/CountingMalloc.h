#pragma once

#include <cstddef>

// Counts live heap bytes of the whole process (every malloc family call,
// operator new included, and those of the shared libraries) by interposing
// the C allocator. Linked only into the memory benchmark.
namespace countingmalloc {

std::size_t CurrentBytes();
// Highest CurrentBytes() since the last ResetPeak.
std::size_t PeakBytes();
void ResetPeak();

} // namespace countingmalloc
