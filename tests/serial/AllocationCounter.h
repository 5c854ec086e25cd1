// Counts heap allocations made while a TAllocationCount is alive, so a test can show that a code
// path allocates nothing.
#pragma once

#include <cstddef>

class TAllocationCount {
 public:
  TAllocationCount();
  ~TAllocationCount();
  TAllocationCount(const TAllocationCount&) = delete;
  TAllocationCount& operator=(const TAllocationCount&) = delete;
  // Allocations since construction.
  std::size_t Count() const;

 private:
  std::size_t Start;
};
