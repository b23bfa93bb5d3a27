#include "ccvt_log.h"

#include <cstdarg>

#include "utils/log_line.h"
#include "xqv/log.h"

namespace vomf_ccvt {

void ccvt_log_info(const char* format, ...) {
  if (XqvUtils::g_log_level > 4) return;
  va_list args;
  va_start(args, format);
  XqvUtils::log_line("\033[0mINFO[ccvt]: ", format, args);
  va_end(args);
}

}  // namespace vomf_ccvt
