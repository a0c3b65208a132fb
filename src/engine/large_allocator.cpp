#include "engine/large_allocator.hpp"

#include <cstdint>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace orvex {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t whole_pages(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

#ifdef __linux__

void* large_allocate(std::size_t bytes) {
  if (bytes > static_cast<std::size_t>(-1) - 2 * kHugePage) throw std::bad_alloc();
  const std::size_t size = whole_pages(bytes);
  // A page more than needed, so that the part kept can start on a 2 MB boundary.
  void* mapped = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > start) munmap(mapped, aligned - start);
  if (const std::uintptr_t tail = start + kHugePage - aligned; tail > 0)
    munmap(reinterpret_cast<void*>(aligned + size), tail);
  void* memory = reinterpret_cast<void*>(aligned);
  madvise(memory, size, MADV_HUGEPAGE);  // a hint: without huge pages the memory is as good
  return memory;
}

void large_free(void* memory, std::size_t bytes) noexcept { munmap(memory, whole_pages(bytes)); }

#else

void* large_allocate(std::size_t bytes) { return ::operator new(bytes); }
void large_free(void* memory, std::size_t) noexcept { ::operator delete(memory); }

#endif

}  // namespace orvex
