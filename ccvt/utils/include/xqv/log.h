// Logger of the capture utility layer: time-stamped, coloured lines on standard output,
// gated by one process-wide level that the colour converters share.
#pragma once

#include "xqv/export.h"

namespace XqvUtils {

// A message of level L prints while g_log_level <= L (debug 3, error 6).
XQV_API extern int g_log_level;

struct Logger {
  const char* tag = "";  // starts with the rest of an escape sequence, e.g. "[0;32mCAP"
  int level = 0;
};

XQV_API void log_debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
XQV_API void log_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
XQV_API void logger_init(Logger* logger, int level, const char* tag);
XQV_API void logger_print(const Logger* logger, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Sets the global level from KVIX_LOG_LEVEL (default 4) and returns it.
XQV_API int log_level_init();

}  // namespace XqvUtils

// Messages of the layer begin with the reporting function and the source line.
#define XQV_DEBUG(fmt, ...) ::XqvUtils::log_debug("%s(%d): " fmt, __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define XQV_ERROR(fmt, ...) ::XqvUtils::log_error("%s(%d): " fmt, __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
