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
