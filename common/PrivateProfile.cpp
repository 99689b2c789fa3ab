#include "common/PrivateProfile.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/FileOps.h"

namespace {

// Windows-1252 0x80..0x9F; 0 marks the five unassigned bytes, kept as the same code point.
const char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void PutUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Trim(const std::string& s) {
  const char* ws = " \t";
  const size_t b = s.find_first_not_of(ws);
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// The section a line opens, or false.
bool SectionOf(const std::string& line, std::string& name) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  const size_t close = t.find(']');
  if (close == std::string::npos) return false;
  name = Trim(t.substr(1, close - 1));
  return true;
}

// The key and value of a line, or false.
bool EntryOf(const std::string& line, std::string& key, std::string& value) {
  const size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(line.substr(0, eq));
  value = Trim(line.substr(eq + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return !key.empty();
}

}  // namespace

std::string Cp1252ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x80)
      out += static_cast<char>(c);
    else if (c < 0xA0)
      PutUtf8(out, kHigh[c - 0x80] ? kHigh[c - 0x80] : c);
    else
      PutUtf8(out, c);
  }
  return out;
}

std::string Utf8ToCp1252(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      out += '?';
      ++i;
      continue;
    }
    bool valid = i + len <= text.size();
    for (size_t k = 1; valid && k < len; ++k) {
      const unsigned char cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) valid = false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!valid) {
      out += '?';
      ++i;
      continue;
    }
    i += len;
    char mapped = '?';
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      mapped = static_cast<char>(cp);
    } else {
      for (int k = 0; k < 32; ++k)
        if (kHigh[k] == cp || (kHigh[k] == 0 && cp == static_cast<uint32_t>(0x80 + k)))
          mapped = static_cast<char>(0x80 + k);
    }
    out += mapped;
  }
  return out;
}

bool PrivateProfile::Exists() const {
  return FileExists(path_);
}

std::vector<std::string> PrivateProfile::ReadLines() const {
  std::vector<std::string> lines;
  std::ifstream in(path_, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string PrivateProfile::ReadString(const std::string& section, const std::string& key,
                                       const std::string& defaultValue) const {
  const std::string s = Utf8ToCp1252(section), k = Utf8ToCp1252(key);
  bool inSection = false;
  for (const std::string& line : ReadLines()) {
    std::string name, lineKey, value;
    if (SectionOf(line, name)) {
      inSection = SameName(name, s);
    } else if (inSection && EntryOf(line, lineKey, value) && SameName(lineKey, k)) {
      return Cp1252ToUtf8(value);
    }
  }
  return defaultValue;
}

void PrivateProfile::Put(std::vector<std::string>& lines, const Entry& e) {
  const std::string s = Utf8ToCp1252(e.section), k = Utf8ToCp1252(e.key);
  const std::string entry = k + "=" + Utf8ToCp1252(e.value);
  bool inSection = false, found = false, done = false;
  size_t insertAt = 0;  // after the section's last entry
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    std::string name, lineKey, v;
    if (SectionOf(lines[i], name)) {
      if (inSection) break;
      inSection = SameName(name, s);
      if (inSection) {
        found = true;
        insertAt = i + 1;
      }
    } else if (inSection && !Trim(lines[i]).empty()) {
      if (EntryOf(lines[i], lineKey, v) && SameName(lineKey, k)) {
        lines[i] = entry;
        done = true;
      }
      insertAt = i + 1;
    }
  }
  if (!done) {
    if (found) {
      lines.insert(lines.begin() + static_cast<long>(insertAt), entry);
    } else {
      lines.push_back("[" + s + "]");
      lines.push_back(entry);
    }
  }
}

void PrivateProfile::WriteString(const std::string& section, const std::string& key,
                                 const std::string& value) {
  WriteStrings({{section, key, value}});
}

bool PrivateProfile::WriteStrings(const std::vector<Entry>& entries) {
  std::vector<std::string> lines = ReadLines();
  for (const Entry& e : entries) Put(lines, e);
  std::ostringstream out;
  for (const std::string& line : lines) out << line << "\r\n";
  // A crash or power cut never leaves an empty or half settings file.
  return ReplaceFileDurably(path_, out.str());
}
