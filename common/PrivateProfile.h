#pragma once
// The settings file: sections of key=value lines, names matched without regard to case, a
// missing key read as the empty string. The file's text is Windows-1252; the program's
// strings are UTF-8, converted at this boundary. Written lines end with CR LF, and a write
// keeps every other line as it was. Write failures are ignored, as the settings allow.

#include <string>
#include <vector>

class PrivateProfile {
 public:
  explicit PrivateProfile(std::string path) : path_(std::move(path)) {}

  const std::string& Path() const { return path_; }
  bool Exists() const;
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue = "") const;
  // Creates the file and the section when missing.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);

  struct Entry {
    std::string section, key, value;
  };
  // All entries in one rewrite of the file, in order; false when it could not be written (the
  // file then is as it was).
  bool WriteStrings(const std::vector<Entry>& entries);

 private:
  std::vector<std::string> ReadLines() const;
  static void Put(std::vector<std::string>& lines, const Entry& entry);
  std::string path_;
};

// Windows-1252 to UTF-8 and back; a character without a Windows-1252 form becomes '?'.
std::string Cp1252ToUtf8(const std::string& text);
std::string Utf8ToCp1252(const std::string& text);
