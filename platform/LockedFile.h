#pragma once
// A file being recorded: created for reading and writing, replacing an old one, and held
// with an exclusive advisory lock until it is closed. Linux lets anyone delete an open file,
// so the other parts of the recorder ask IsFileInUse before they delete.

#include <cstddef>
#include <string>

class LockedFile {
 public:
  LockedFile() = default;
  ~LockedFile() { Close(); }
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  // Creates (or truncates) the file and locks it; false, with nothing held, on failure.
  bool Create(const std::string& path);
  // Writes every byte, or reports failure.
  bool Write(const void* data, size_t count);
  // Writes at a position without moving the write position; for patching headers.
  bool WriteAt(const void* data, size_t count, long long offset);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// True while some opening (of this or another process) holds the file's lock.
bool IsFileInUse(const std::string& path);
