#pragma once
// File operations of the recorder with the guarantees a logger needs on Linux: a rename never
// replaces a file, a deletion never removes a file another part of the recorder holds, and
// listings match names without regard to case.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/WallTime.h"

struct FileEntry {
  std::string name;  // without the folder
  bool directory = false;
  WallTime modified{};
  uint64_t size = 0;
};

// Entries of the folder whose names match the mask ('*' and '?'), case-insensitively, hidden
// ones included; empty when the folder cannot be read.
std::vector<FileEntry> ListFolder(const std::string& folder, const std::string& mask);
bool MatchesMask(const std::string& name, const std::string& mask);

std::string JoinPath(const std::string& folder, const std::string& name);
bool FileExists(const std::string& path);
// The size of a regular file; false when there is none.
bool FileSize(const std::string& path, uint64_t& size);
// The modification time of a file; false when it cannot be read.
bool FileModified(const std::string& path, WallTime& modified);
bool FolderExists(const std::string& path);
// A folder this process may create files in.
bool FolderWritable(const std::string& path);
// Whether two paths name the same existing folder (links and spellings resolved).
bool SameFolder(const std::string& a, const std::string& b);

// Fails when the target exists.
bool RenameNoReplace(const std::string& from, const std::string& to);
// Copies, replacing a file of the target's name; the copy appears under its name only
// when complete.
bool CopyReplacing(const std::string& from, const std::string& to);
// Appends one file's bytes to another.
bool AppendFile(const std::string& from, const std::string& to);
// Replaces a small file's contents so that a crash or power cut leaves either the old or the
// new contents, never an empty or half file: written aside, flushed, moved into place, and the
// folder flushed. False, with the old file untouched, when something fails.
bool ReplaceFileDurably(const std::string& path, const std::string& bytes);
// Makes the folder's entries durable (new names, renames, deletions); false when it fails.
bool SyncFolder(const std::string& folder);
// Deletes a file nobody holds; false when held or when the deletion fails.
bool DeleteUnlessHeld(const std::string& path);
