#include "call_log.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace ndistandin {
namespace {

struct LogFile {
  std::mutex mutex;
  bool opened = false;
  FILE* file = nullptr;

  // Caller holds the mutex.
  FILE* get() {
    if (!opened) {
      opened = true;
      const char* path = std::getenv("TARNVIK_NDI_LOG");
      if (path && *path) file = std::fopen(path, "ae");
    }
    return file;
  }
  void close() {
    if (file) std::fclose(file);
    file = nullptr;
    opened = false;
  }
};

// Never destroyed: detached threads of a program may still log while it exits.
LogFile& logFile() {
  static LogFile* log = new LogFile;
  return *log;
}

void appendQuoted(std::string& out, const char* text) {
  static const char hex[] = "0123456789abcdef";
  out += '"';
  for (const char* p = text; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

}  // namespace

Call::Call(const char* function) {
  LogFile& log = logFile();
  std::lock_guard<std::mutex> lock(log.mutex);
  enabled_ = log.get() != nullptr;
  if (enabled_) line_ = function;
}

Call::~Call() {
  if (!enabled_) return;
  LogFile& log = logFile();
  std::lock_guard<std::mutex> lock(log.mutex);
  if (FILE* file = log.get()) {
    line_ += '\n';
    std::fwrite(line_.data(), 1, line_.size(), file);
    std::fflush(file);
  }
}

Call& Call::text(const char* key, const char* value) {
  if (!enabled_) return *this;
  line_ += ' ';
  line_ += key;
  line_ += '=';
  if (value) {
    appendQuoted(line_, value);
  } else {
    line_ += "null";
  }
  return *this;
}

Call& Call::number(const char* key, int64_t value) {
  if (enabled_) line_ += ' ' + std::string(key) + '=' + std::to_string(value);
  return *this;
}

Call& Call::flag(const char* key, bool value) { return word(key, value ? "true" : "false"); }

Call& Call::word(const char* key, const char* value) {
  if (enabled_) line_ += ' ' + std::string(key) + '=' + value;
  return *this;
}

void resetCallLog() {
  LogFile& log = logFile();
  std::lock_guard<std::mutex> lock(log.mutex);
  log.close();
}

}  // namespace ndistandin
