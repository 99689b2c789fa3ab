#pragma once
// Files being written that must reach the disk while they grow, so that a power cut loses only
// the last seconds of them: whoever writes such a file tells of its creation and its closing.

#include <string>

class DurableFiles {
 public:
  virtual ~DurableFiles() = default;
  // The file exists and is being written; from now on it is flushed every few seconds.
  virtual void FileCreated(const std::string& path) = 0;
  // The writer closed it: flushed one last time and no longer watched.
  virtual void FileClosed(const std::string& path) = 0;
};
