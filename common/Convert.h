#pragma once
// Strict decimal conversion of the settings' text, at each point of use.

#include <stdexcept>
#include <string>

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Optional sign and decimal digits only, within 32 bits; otherwise EConvertError with the
// text "'<value>' is not a valid integer value".
int StrToInt(const std::string& text);
// The same for a value of cfg.ini: the error names where the value comes from after the text,
// as in "'abc' is not a valid integer value (cfg.ini [Geral] TempoRec)".
int StrToInt(const std::string& text, const std::string& section, const std::string& key);
// Where a value of cfg.ini lives, as the messages name it: "cfg.ini [Geral] TempoRec".
std::string SettingName(const std::string& section, const std::string& key);
