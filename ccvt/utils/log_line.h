// One log line of libvomf_ccvt, shared by the utility layer's printers and the
// converters' trace line; private to the library.
#pragma once

#include <cstdarg>

namespace XqvUtils {

// Time stamp "[h:mm:ss:mmm] ", tag, message, "\n\033[0m", written to stdout at once.
void log_line(const char* tag, const char* format, va_list args);

}  // namespace XqvUtils
