#pragma once
// Free and total space of the file system that holds a folder, as the program may use it.
// There are no drive letters: the figures are those of the folder's own file system.

#include <cstdint>
#include <functional>
#include <string>

struct DiskSpace {
  uint64_t freeBytes = 0;   // available to this program
  uint64_t totalBytes = 0;  // size of the file system
};

// False when the folder cannot be queried.
bool QueryDiskSpace(const std::string& folder, DiskSpace& out);

// The folder part of a file name: "." for a bare name, "/" for a file in the root.
std::string FolderOf(const std::string& fileName);

// Tests answer the queries themselves; an empty function restores the real query.
using DiskSpaceQuery = std::function<bool(const std::string& folder, DiskSpace& out)>;
void SetDiskSpaceQuery(DiskSpaceQuery query);
