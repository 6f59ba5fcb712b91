#pragma once

namespace perchlight {

// Every evaluation builds and frees a document tree of many small nodes. By default the C library
// hands the freed top of the heap back to the system once it passes 128 KiB, so the next
// evaluation of a large rule set or policy faults the same pages in again: a third of its time at
// 1,000 rules. A process that evaluates many documents (the headless tool, the benchmarks) calls
// this once at start to keep up to kRetainedHeapBytes of freed heap. No effect outside glibc.
void retainFreedHeap();

inline constexpr int kRetainedHeapBytes = 32 * 1024 * 1024;

}  // namespace perchlight
