#pragma once
// One running copy per user: a lock named after the program's title in the user's runtime
// folder. A copy that was killed leaves a stale lock, which the next one takes over.

#include <QLockFile>
#include <memory>
#include <string>

class SingleInstance {
 public:
  explicit SingleInstance(const std::string& title);
  // False when another copy holds the lock.
  bool Acquired() const { return acquired_; }

 private:
  std::unique_ptr<QLockFile> lock_;
  bool acquired_ = false;
};
