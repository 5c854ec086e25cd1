// Replaces the global allocation functions of the test binary with counting ones.
#include "tests/serial/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace {
// Plain globals: the tests run on one thread, and atomics would only hide a misuse.
std::size_t Allocations = 0;
int Counting = 0;

void* Allocate(std::size_t size) {
  if (Counting > 0) ++Allocations;
  void* block = std::malloc(size != 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
}  // namespace

TAllocationCount::TAllocationCount() : Start(Allocations) { ++Counting; }
TAllocationCount::~TAllocationCount() { --Counting; }
std::size_t TAllocationCount::Count() const { return Allocations - Start; }

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
// The non-throwing forms too (the standard library's temporary buffers use them): every block our
// delete frees must come from malloc, or a sanitizer rightly reports a mismatch.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
