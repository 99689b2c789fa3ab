#include "platform/FileOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/DiskSpace.h"

namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool Match(const char* n, const char* m) {
  // Iterative wildcard match with one backtrack point: linear enough for file names.
  const char* star = nullptr;
  const char* retry = nullptr;
  while (*n) {
    if (*m == '*') {
      star = m++;
      retry = n;
    } else if (*m == '?' || (*m && Lower(*m) == Lower(*n))) {
      ++m;
      ++n;
    } else if (star) {
      m = star + 1;
      n = ++retry;
    } else {
      return false;
    }
  }
  while (*m == '*') ++m;
  return *m == 0;
}

// Writes every byte of fd `in` to fd `out`.
bool CopyFd(int in, int out) {
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = read(in, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(out, buf + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      done += w;
    }
  }
}

WallTime ModifiedOf(const struct stat& st) {
  return WallTime(std::chrono::duration_cast<WallTime::duration>(
      std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
}

}  // namespace

bool MatchesMask(const std::string& name, const std::string& mask) {
  return Match(name.c_str(), mask.c_str());
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::vector<FileEntry> ListFolder(const std::string& folder, const std::string& mask) {
  std::vector<FileEntry> out;
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return out;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || !MatchesMask(name, mask)) continue;
    struct stat st {};
    if (fstatat(dirfd(dir), e->d_name, &st, 0) != 0) continue;  // gone meanwhile
    FileEntry f;
    f.name = name;
    f.directory = S_ISDIR(st.st_mode);
    f.size = static_cast<uint64_t>(st.st_size);
    f.modified = ModifiedOf(st);
    out.push_back(std::move(f));
  }
  closedir(dir);
  return out;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FileSize(const std::string& path, uint64_t& size) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool FileModified(const std::string& path, WallTime& modified) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  modified = ModifiedOf(st);
  return true;
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FolderWritable(const std::string& path) {
  return FolderExists(path) && access(path.c_str(), W_OK | X_OK) == 0;
}

bool SameFolder(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link fails when the target exists.
  if (link(from.c_str(), to.c_str()) != 0) return false;
  unlink(from.c_str());
  return true;
}

// Writes the whole of file `from` through `out`, which it then syncs and closes.
static bool WriteAllInto(const std::string& from, int out) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  bool ok = in >= 0 && CopyFd(in, out);
  if (in >= 0) close(in);
  ok = fsync(out) == 0 && ok;
  return close(out) == 0 && ok;
}

bool CopyReplacing(const std::string& from, const std::string& to) {
  if (!FileExists(from)) return false;
  const std::string tmp = to + ".part";
  const int out = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return false;
  const bool ok = WriteAllInto(from, out) && rename(tmp.c_str(), to.c_str()) == 0;
  if (!ok) unlink(tmp.c_str());
  // The copy's name must survive a power cut as well as its bytes.
  if (ok) SyncFolder(FolderOf(to));
  return ok;
}

bool AppendFile(const std::string& from, const std::string& to) {
  if (!FileExists(from)) return false;
  const int out = open(to.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
  if (out < 0) return false;
  struct stat st {};
  if (fstat(out, &st) != 0) {
    close(out);
    return false;
  }
  if (WriteAllInto(from, out)) return true;
  // A part-written tail would be written again by the next attempt: cut it off.
  [[maybe_unused]] const int cut = truncate(to.c_str(), st.st_size);
  return false;
}

bool DeleteUnlessHeld(const std::string& path) {
  // Hold the lock while deleting, so that no recording can take the file in between.
  // Non-blocking: opening a named pipe would otherwise wait for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  const bool ok = unlink(path.c_str()) == 0;
  close(fd);
  return ok;
}

bool SyncFolder(const std::string& folder) {
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

bool ReplaceFileDurably(const std::string& path, const std::string& bytes) {
  const std::string tmp = path + ".tmp";
  const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) {
    unlink(tmp.c_str());
    return false;
  }
  SyncFolder(FolderOf(path));
  return true;
}
