/* libvomf_ccvt: YV12 and YUY2 pictures to packed RGB/BGR, and YV12 re-matrixing.
 *
 * yuv_type selects the colour matrix (0..6): 0 and 3 BT.601 full range, 1 BT.601 limited,
 * 2 BT.709 limited, 4 BT.709 full, 5 BT.2020 limited, 6 BT.2020 full. Any other value
 * writes nothing.
 *
 * YV12 converters and re-matrixing work on row pairs in blocks of 32 pixels: nothing is
 * written when height < 2 or width < 32; the right-hand width % 32 pixels and the last row
 * of an odd height are left untouched. YUY2 converters work row by row in blocks of 32
 * pixels (24-bit output) or 16 pixels (32-bit output). The fourth byte of a 32-bit pixel
 * is 0. Pointers and strides need no alignment; negative (bottom-up) strides work.
 *
 * The _sony converters give the same bytes as their plain twins; vomf_ccvt_yv12_sony
 * copies the picture, and so does vomf_ccvt_yv12_bt2020 except with yuv_type 4.
 */
#ifndef VOMF_CCVT_H
#define VOMF_CCVT_H

#include <stdint.h>

#define VOMF_CCVT_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

#define VOMF_CCVT_YV12_ARGS                                                              \
  int width, int height, const uint8_t *Y, const uint8_t *U, const uint8_t *V, int Y_stride, \
      int U_stride, int V_stride, uint8_t *dst, int RGB_stride, int yuv_type

VOMF_CCVT_API void vomf_ccvt_yv12_rgb24(VOMF_CCVT_YV12_ARGS);
VOMF_CCVT_API void vomf_ccvt_yv12_bgr24(VOMF_CCVT_YV12_ARGS);
VOMF_CCVT_API void vomf_ccvt_yv12_rgb32(VOMF_CCVT_YV12_ARGS);
VOMF_CCVT_API void vomf_ccvt_yv12_bgr32(VOMF_CCVT_YV12_ARGS);
VOMF_CCVT_API void vomf_ccvt_yv12_rgb24_sony(VOMF_CCVT_YV12_ARGS);
VOMF_CCVT_API void vomf_ccvt_yv12_bgr24_sony(VOMF_CCVT_YV12_ARGS);
VOMF_CCVT_API void vomf_ccvt_yv12_rgb32_sony(VOMF_CCVT_YV12_ARGS);
VOMF_CCVT_API void vomf_ccvt_yv12_bgr32_sony(VOMF_CCVT_YV12_ARGS);

#define VOMF_CCVT_YUY2_ARGS \
  int width, int height, const uint8_t *src, int src_stride, uint8_t *dst, int dst_stride, int yuv_type

VOMF_CCVT_API void vomf_ccvt_yuy2_rgb24(VOMF_CCVT_YUY2_ARGS);
VOMF_CCVT_API void vomf_ccvt_yuy2_bgr24(VOMF_CCVT_YUY2_ARGS);
VOMF_CCVT_API void vomf_ccvt_yuy2_rgb32(VOMF_CCVT_YUY2_ARGS);
VOMF_CCVT_API void vomf_ccvt_yuy2_bgr32(VOMF_CCVT_YUY2_ARGS);
VOMF_CCVT_API void vomf_ccvt_yuy2_rgb24_sony(VOMF_CCVT_YUY2_ARGS);
VOMF_CCVT_API void vomf_ccvt_yuy2_bgr24_sony(VOMF_CCVT_YUY2_ARGS);
VOMF_CCVT_API void vomf_ccvt_yuy2_rgb32_sony(VOMF_CCVT_YUY2_ARGS);
VOMF_CCVT_API void vomf_ccvt_yuy2_bgr32_sony(VOMF_CCVT_YUY2_ARGS);

#define VOMF_CCVT_REMATRIX_ARGS                                                            \
  int width, int height, const uint8_t *srcY, const uint8_t *srcU, const uint8_t *srcV,      \
      int srcY_stride, int srcU_stride, int srcV_stride, uint8_t *dstY, uint8_t *dstU,        \
      uint8_t *dstV, int dstY_stride, int dstU_stride, int dstV_stride, int yuv_type

VOMF_CCVT_API void vomf_ccvt_yv12_bt2020(VOMF_CCVT_REMATRIX_ARGS);
VOMF_CCVT_API void vomf_ccvt_yv12_sony(VOMF_CCVT_REMATRIX_ARGS);

#ifdef __cplusplus
}
#endif

#endif
