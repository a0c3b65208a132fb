// Test-only: preloaded into the plug-in (GIMP_PLUGIN_DEBUG_WRAPPER) to make one libgimp call fail as GIMP itself
// would, or large allocations fail as with too little memory, when the file named by ORVEX_FAULTS names that fault.
#include <dlfcn.h>
#include <sys/mman.h>
#include <libgimp/gimp.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

bool failing(const char* fault) {
  char named[64] = "";
  const char* path = std::getenv("ORVEX_FAULTS");
  if (FILE* file = path ? std::fopen(path, "r") : nullptr) {
    if (!std::fgets(named, sizeof named, file)) named[0] = 0;
    std::fclose(file);
  }
  return std::strncmp(named, fault, std::strlen(fault)) == 0;
}

template <typename F> F real(const char* name) { return reinterpret_cast<F>(dlsym(RTLD_NEXT, name)); }

}  // namespace

extern "C" gint32 gimp_selection_save(gint32 image) {
  return failing("selection-save") ? -1 : real<gint32 (*)(gint32)>("gimp_selection_save")(image);
}

extern "C" gboolean gimp_selection_load(gint32 channel) {
  return failing("selection-load") ? FALSE : real<gboolean (*)(gint32)>("gimp_selection_load")(channel);
}

extern "C" gboolean gimp_drawable_merge_shadow(gint32 drawable, gboolean undo) {
  return failing("merge-shadow") ? FALSE : real<gboolean (*)(gint32, gboolean)>("gimp_drawable_merge_shadow")(drawable, undo);
}

// Blocks of a layer's size and more cannot be had, from the heap or mapped.
extern "C" void* mmap(void* address, std::size_t length, int protection, int flags, int fd, off_t offset) {
  if ((flags & MAP_ANONYMOUS) && length >= (std::size_t{8} << 20) && failing("memory")) {
    errno = ENOMEM;
    return MAP_FAILED;
  }
  return real<void* (*)(void*, std::size_t, int, int, int, off_t)>("mmap")(address, length, protection, flags, fd, offset);
}
void* operator new(std::size_t size) {
  if (size >= (std::size_t{8} << 20) && failing("memory")) throw std::bad_alloc();
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
