#pragma once

// The largest block the program has taken with operator new, in its plain
// and aligned forms (std::vector's buffers, TBitmap32's small blocks through
// new[], its large ones through the aligned form), so that a test can show
// what a reader or writer allocates: set it to 0, run, read it. block_watch.cpp
// replaces the operators; link it into one test binary (formats_test).

#include <atomic>
#include <cstddef>

namespace plumora::test {

inline std::atomic<std::size_t> largestBlock{0};

}  // namespace plumora::test
