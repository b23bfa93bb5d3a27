#include "xqv/log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

#include "log_line.h"
#include "xqv/helpers.h"

namespace XqvUtils {

int g_log_level = 4;

void log_line(const char* tag, const char* format, va_list args) {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const long long ms = static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  char stamp[64];
  const int stamp_len =
      snprintf(stamp, sizeof stamp, "[%d:%02d:%02d:%03d] ", static_cast<int>(ms / 3600000),
               static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
               static_cast<int>(ms % 1000));

  va_list copy;
  va_copy(copy, args);
  char small[512];
  const int n = vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return;

  // Build the whole line first so that one write keeps it together.
  std::string line;
  line.reserve(static_cast<size_t>(stamp_len) + 64 + static_cast<size_t>(n));
  line.append(stamp, static_cast<size_t>(stamp_len));
  line.append(tag);
  if (static_cast<size_t>(n) < sizeof small) {
    line.append(small, static_cast<size_t>(n));
  } else {
    std::string big(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(big.data(), big.size(), format, args);
    line.append(big.data(), static_cast<size_t>(n));
  }
  line.append("\n\033[0m");
  fwrite(line.data(), 1, line.size(), stdout);
}

void log_debug(const char* format, ...) {
  if (g_log_level > 3) return;
  va_list args;
  va_start(args, format);
  log_line("\033[0;36mDEBUG[XqvUtils]: ", format, args);
  va_end(args);
}

void log_error(const char* format, ...) {
  if (g_log_level > 6) return;
  va_list args;
  va_start(args, format);
  log_line("\033[1;31mERROR[XqvUtils]: ", format, args);
  va_end(args);
}

void logger_init(Logger* logger, int level, const char* tag) {
  logger->tag = tag;
  logger->level = level;
}

void logger_print(const Logger* logger, const char* format, ...) {
  if (logger->level < g_log_level) return;
  std::string tag = "\033";
  tag += logger->tag ? logger->tag : "";
  tag += ": ";
  va_list args;
  va_start(args, format);
  log_line(tag.c_str(), format, args);
  va_end(args);
}

int log_level_init() {
  g_log_level = env_get_int("KVIX_LOG_LEVEL", 4);
  return g_log_level;
}

}  // namespace XqvUtils
