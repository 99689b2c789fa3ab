#include "common/Convert.h"

#include <cstdint>

int StrToInt(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t v = 0;
  const size_t digits = i;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > int64_t{INT32_MAX} + 1) break;
  }
  const int64_t value = negative ? -v : v;
  if (i != text.size() || i == digits || value > INT32_MAX || value < INT32_MIN)
    throw EConvertError("'" + text + "' is not a valid integer value");
  return static_cast<int>(value);
}

std::string SettingName(const std::string& section, const std::string& key) {
  return "cfg.ini [" + section + "] " + key;
}

int StrToInt(const std::string& text, const std::string& section, const std::string& key) {
  try {
    return StrToInt(text);
  } catch (const EConvertError& e) {
    throw EConvertError(std::string(e.what()) + " (" + SettingName(section, key) + ")");
  }
}
