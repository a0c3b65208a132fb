// Memory for whole layers, in 2 MB pages where the system offers them.
//
// A fresh buffer costs a page fault per page on first touch; on a virtual machine a fault per
// 4 KB costs more than a pass over the pixels does, so a plug-in that reads a 12 MP photo into
// fresh memory spends tens of milliseconds on faults alone. Large requests are mapped on 2 MB
// boundaries and marked for huge pages (Linux's transparent huge pages, when enabled on
// request). Smaller ones, such as block planes, which a preview asks for again at every change
// and the heap hands back warm, use the ordinary heap, as do other systems.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace orvex {

// Requests from this size on are mapped on their own.
inline constexpr std::size_t kLargeBytes = std::size_t{16} << 20;

// A mapping of at least `bytes` (kLargeBytes or more); throws std::bad_alloc when none is made.
void* large_allocate(std::size_t bytes);
// Frees what large_allocate(bytes) returned.
void large_free(void* memory, std::size_t bytes) noexcept;

template <typename T>
struct LargeAllocator {
  using value_type = T;
  LargeAllocator() = default;
  template <typename U>
  LargeAllocator(const LargeAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = count * sizeof(T);
    return static_cast<T*>(bytes >= kLargeBytes ? large_allocate(bytes) : ::operator new(bytes));
  }
  void deallocate(T* memory, std::size_t count) noexcept {
    if (count * sizeof(T) >= kLargeBytes)
      large_free(memory, count * sizeof(T));
    else
      ::operator delete(memory);
  }
  template <typename U>
  bool operator==(const LargeAllocator<U>&) const noexcept {
    return true;
  }
};

template <typename T>
using LargeVector = std::vector<T, LargeAllocator<T>>;

}  // namespace orvex
