#include "platform/LockedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

bool LockedFile::Create(const std::string& path) {
  Close();
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // Locked before it is emptied: a file another opening holds is left as it is.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ftruncate(fd, 0) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

bool LockedFile::Write(const void* data, size_t count) {
  if (fd_ < 0) return false;
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    const ssize_t n = ::write(fd_, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool LockedFile::WriteAt(const void* data, size_t count, long long offset) {
  if (fd_ < 0) return false;
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    const ssize_t n = ::pwrite(fd_, p, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    offset += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

void LockedFile::Close() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  fd_ = -1;
  path_.clear();
}

bool IsFileInUse(const std::string& path) {
  // Non-blocking: a pipe of that name must not hold the caller up.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}
