// The optional call log: one line per runtime call with its arguments, appended to the
// file named by TARNVIK_NDI_LOG.
#pragma once

#include <cstdint>
#include <string>

namespace ndistandin {

// One line: the function name, then key=value pairs; texts are quoted with JSON escapes,
// a null text is written null. The line is written when the object goes.
class Call {
 public:
  explicit Call(const char* function);
  ~Call();
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  Call& text(const char* key, const char* value);
  Call& text(const char* key, const std::string& value) { return text(key, value.c_str()); }
  Call& number(const char* key, int64_t value);
  Call& flag(const char* key, bool value);
  Call& word(const char* key, const char* value);  // unquoted

 private:
  bool enabled_;
  std::string line_;
};

// Forgets the log file, so the next call reads TARNVIK_NDI_LOG again.
void resetCallLog();

}  // namespace ndistandin
