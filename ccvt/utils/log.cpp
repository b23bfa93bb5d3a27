#include "xqv/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "log_line.h"
#include "xqv/helpers.h"

namespace XqvUtils {

int g_log_level = 4;

namespace {

// Longest line formatted on the stack and handed to stdio in one piece.
constexpr size_t kLineMax = 1024;

// The converters call this on every trace: nothing here may touch the heap.
void write_line(const char* head, const char* tag, const char* tail, const char* format, va_list args) {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const long long ms = static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  char stamp[64];
  snprintf(stamp, sizeof stamp, "[%d:%02d:%02d:%03d] ", static_cast<int>(ms / 3600000),
           static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
  static constexpr char kEnd[] = "\n\033[0m";

  // Build the whole line first so that one write keeps it together.
  char line[kLineMax];
  const int prefix = snprintf(line, sizeof line, "%s%s%s%s", stamp, head, tag, tail);
  if (prefix >= 0 && static_cast<size_t>(prefix) < sizeof line) {
    va_list copy;
    va_copy(copy, args);
    const int n = vsnprintf(line + prefix, sizeof line - static_cast<size_t>(prefix), format, copy);
    va_end(copy);
    if (n < 0) return;
    const size_t used = static_cast<size_t>(prefix) + static_cast<size_t>(n);
    if (used + sizeof kEnd - 1 < sizeof line) {
      memcpy(line + used, kEnd, sizeof kEnd - 1);
      fwrite(line, 1, used + sizeof kEnd - 1, stdout);
      return;
    }
  }
  // Too long for the stack: the same pieces, kept together by the stream's lock.
  flockfile(stdout);
  fputs(stamp, stdout);
  fputs(head, stdout);
  fputs(tag, stdout);
  fputs(tail, stdout);
  vfprintf(stdout, format, args);
  fputs(kEnd, stdout);
  funlockfile(stdout);
}

}  // namespace

void log_line(const char* tag, const char* format, va_list args) { write_line("", tag, "", format, args); }

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
  va_list args;
  va_start(args, format);
  write_line("\033", logger->tag ? logger->tag : "", ": ", format, args);
  va_end(args);
}

int log_level_init() {
  g_log_level = env_get_int("KVIX_LOG_LEVEL", 4);
  return g_log_level;
}

}  // namespace XqvUtils
