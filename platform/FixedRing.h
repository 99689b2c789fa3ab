#pragma once
// A fixed-capacity FIFO of values, for the queues that audio passes through: it never allocates
// once made, so threads that carry audio may use it.

#include <array>
#include <cstddef>

template <typename T, size_t N>
class FixedRing {
 public:
  bool Push(T v) {
    if (count_ == N) return false;
    items_[(head_ + count_) % N] = v;
    ++count_;
    return true;
  }
  bool Pop(T& v) {
    if (count_ == 0) return false;
    v = items_[head_];
    head_ = (head_ + 1) % N;
    --count_;
    return true;
  }
  T& Front() { return items_[head_]; }
  bool Empty() const { return count_ == 0; }
  size_t Size() const { return count_; }

 private:
  std::array<T, N> items_{};
  size_t head_ = 0;
  size_t count_ = 0;
};
