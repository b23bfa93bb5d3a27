// Visibility of the capture utility layer inside libvomf_ccvt (built hidden by default).
#pragma once

#define XQV_API __attribute__((visibility("default")))
