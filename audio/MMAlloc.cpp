#include "audio/MMAlloc.h"

#include <cstdlib>

TMMAllocator::~TMMAllocator() {
  FreeAll();
}

void* TMMAllocator::Acquire(uint32_t /*flags*/, size_t size) {
  std::lock_guard<std::mutex> guard(lock_);
  for (Entry& e : entries_)
    if (e.useCount == 0 && e.size == size) {
      e.useCount = 1;
      return e.block;
    }
  for (Entry& e : entries_)
    if (e.useCount == 0 && e.size >= size) {
      e.useCount = 1;
      return e.block;
    }
  void* block = std::calloc(1, size ? size : 1);
  if (!block) return nullptr;
  try {
    entries_.push_back({block, size, 1});
  } catch (...) {
    std::free(block);
    return nullptr;
  }
  return block;
}

void TMMAllocator::Release(void*& block) {
  if (!block) return;
  std::lock_guard<std::mutex> guard(lock_);
  for (Entry& e : entries_)
    if (e.block == block) {
      if (e.useCount > 0) --e.useCount;
      break;
    }
  block = nullptr;
}

void TMMAllocator::FreeAll() {
  std::lock_guard<std::mutex> guard(lock_);
  while (!entries_.empty()) {
    std::free(entries_.back().block);
    entries_.pop_back();
  }
}

size_t TMMAllocator::EntryCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return entries_.size();
}
