// The conversion unit's INFO logger, gated by the library's shared log level.
#pragma once

namespace vomf_ccvt {

// Prints while the global level is at most 4.
void ccvt_log_info(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vomf_ccvt
