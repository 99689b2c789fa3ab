#pragma once
// Counts the allocations of the program that includes this header (in exactly one source
// file): operator new always, malloc and its kin while counting is switched on (and not under
// a sanitizer, which owns malloc itself). The hot paths of the audio chain must not allocate
// per buffer.

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

inline std::atomic<unsigned long long> g_allocations{0};
inline std::atomic<unsigned long long> g_mallocs{0};
inline std::atomic<bool> g_countMallocs{false};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMallocCounted = false;
#else
constexpr bool kMallocCounted = true;
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* malloc(size_t size) {
  if (g_countMallocs.load(std::memory_order_relaxed))
    g_mallocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
void* calloc(size_t n, size_t size) {
  if (g_countMallocs.load(std::memory_order_relaxed))
    g_mallocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(n, size);
}
void* realloc(void* p, size_t size) {
  if (g_countMallocs.load(std::memory_order_relaxed))
    g_mallocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, size);
}
}
#endif

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
