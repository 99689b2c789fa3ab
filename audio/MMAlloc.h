#pragma once
// A pool of zero-filled blocks that are reused rather than freed, so a device opened and
// closed again and again works on the same memory.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

class TMMAllocator {
 public:
  TMMAllocator() = default;
  ~TMMAllocator();
  TMMAllocator(const TMMAllocator&) = delete;
  TMMAllocator& operator=(const TMMAllocator&) = delete;

  // A free block of exactly `size` bytes, else the first free one at least that large, else a
  // new zero-filled block; none when memory is exhausted. `flags` is kept for the platform's
  // heap flags and has no effect.
  void* Acquire(uint32_t flags, size_t size);
  // Returns a block to the pool and clears the caller's reference.
  void Release(void*& block);
  template <typename T>
  void Release(T*& block) {
    void* p = block;
    Release(p);
    block = nullptr;
  }
  void FreeAll();

  size_t EntryCount() const;

 private:
  struct Entry {
    void* block;
    size_t size;
    int useCount;
  };
  mutable std::mutex lock_;
  std::vector<Entry> entries_;
};
