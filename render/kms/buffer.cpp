// Dumb buffers: one CPU-mapped buffer with its plane layout.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include <drm_fourcc.h>

#include "kms_internal.h"

namespace {

struct FormatInfo {
  uint32_t bpp;
  int planes;         // 1, 2 (semi-planar) or 3 (planar)
  uint32_t rows_num;  // virtual height = height * rows_num / rows_den
  uint32_t rows_den;
};

bool formatInfo(uint32_t format, FormatInfo* info) {
  switch (format) {
    case DRM_FORMAT_NV12:
    case DRM_FORMAT_NV21:
      *info = {8, 2, 3, 2};
      return true;
    case DRM_FORMAT_NV16:
    case DRM_FORMAT_NV61:
      *info = {8, 2, 2, 1};
      return true;
    case DRM_FORMAT_YUV420:
    case DRM_FORMAT_YVU420:
      *info = {8, 3, 3, 2};
      return true;
    case DRM_FORMAT_C8:
      *info = {8, 1, 1, 1};
      return true;
    case DRM_FORMAT_ARGB4444: case DRM_FORMAT_XRGB4444: case DRM_FORMAT_ABGR4444: case DRM_FORMAT_XBGR4444:
    case DRM_FORMAT_RGBA4444: case DRM_FORMAT_RGBX4444: case DRM_FORMAT_BGRA4444: case DRM_FORMAT_BGRX4444:
    case DRM_FORMAT_ARGB1555: case DRM_FORMAT_XRGB1555: case DRM_FORMAT_ABGR1555: case DRM_FORMAT_XBGR1555:
    case DRM_FORMAT_RGBA5551: case DRM_FORMAT_RGBX5551: case DRM_FORMAT_BGRA5551: case DRM_FORMAT_BGRX5551:
    case DRM_FORMAT_RGB565: case DRM_FORMAT_BGR565:
    case DRM_FORMAT_YUYV: case DRM_FORMAT_YVYU: case DRM_FORMAT_UYVY: case DRM_FORMAT_VYUY:
      *info = {16, 1, 1, 1};
      return true;
    case DRM_FORMAT_RGB888:
    case DRM_FORMAT_BGR888:
      *info = {24, 1, 1, 1};
      return true;
    case DRM_FORMAT_ARGB8888: case DRM_FORMAT_XRGB8888: case DRM_FORMAT_ABGR8888: case DRM_FORMAT_XBGR8888:
    case DRM_FORMAT_RGBA8888: case DRM_FORMAT_RGBX8888: case DRM_FORMAT_BGRA8888: case DRM_FORMAT_BGRX8888:
    case DRM_FORMAT_ARGB2101010: case DRM_FORMAT_XRGB2101010: case DRM_FORMAT_ABGR2101010:
    case DRM_FORMAT_XBGR2101010: case DRM_FORMAT_RGBA1010102: case DRM_FORMAT_RGBX1010102:
    case DRM_FORMAT_BGRA1010102: case DRM_FORMAT_BGRX1010102:
      *info = {32, 1, 1, 1};
      return true;
    case DRM_FORMAT_ARGB16161616F: case DRM_FORMAT_XRGB16161616F: case DRM_FORMAT_ABGR16161616F:
    case DRM_FORMAT_XBGR16161616F:
      *info = {64, 1, 1, 1};
      return true;
    default:
      return false;
  }
}

void destroyDumb(int fd, uint32_t handle) {
  drm_mode_destroy_dumb destroy{};
  destroy.handle = handle;
  if (drmIoctl(fd, DRM_IOCTL_MODE_DESTROY_DUMB, &destroy) != 0) {
    KEL_LOG(true, "[KMFR]E failed to destroy dumb buffer: %s\n", strerror(errno));
  }
}

}  // namespace

buffer_object* bo_create(int fd, unsigned format, unsigned width, unsigned height) {
  FormatInfo info;
  if (!formatInfo(format, &info)) {
    KEL_LOG(true, "[KMFR]E unsupported format 0x%08x\n", format);
    return nullptr;
  }
  auto* bo = new (std::nothrow) buffer_object;
  if (!bo) {
    KEL_LOG(true, "[KMFR]E failed to allocate buffer object\n");
    return nullptr;
  }
  bo->fd = fd;
  bo->vheight = uint64_t(height) * info.rows_num / info.rows_den;
  bo->bpp = info.bpp;
  drm_mode_create_dumb create{};
  create.width = width;
  create.height = static_cast<uint32_t>(bo->vheight);
  create.bpp = info.bpp;
  if (drmIoctl(fd, DRM_IOCTL_MODE_CREATE_DUMB, &create) != 0) {
    KEL_LOG(true, "[KMFR]E failed to create dumb buffer: %s\n", strerror(errno));
    delete bo;
    return nullptr;
  }
  bo->handle = create.handle;
  bo->pitch = create.pitch;
  bo->size = create.size;

  drm_mode_map_dumb map{};
  map.handle = bo->handle;
  void* mapping = MAP_FAILED;
  if (drmIoctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &map) == 0) {
    mapping = mmap(nullptr, bo->size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, static_cast<off_t>(map.offset));
  }
  if (mapping == MAP_FAILED) {
    KEL_LOG(true, "[KMFR]E failed to map buffer: %s\n", strerror(errno));
    destroyDumb(fd, bo->handle);
    delete bo;  // the record goes too
    return nullptr;
  }
  bo->map = static_cast<uint8_t*>(mapping);

  const uint32_t pitch = bo->pitch;
  bo->handles[0] = bo->handle;
  bo->pitches[0] = pitch;
  bo->offsets[0] = 0;
  if (info.planes == 2) {
    bo->handles[1] = bo->handle;
    bo->pitches[1] = pitch;
    bo->offsets[1] = pitch * height;
  } else if (info.planes == 3) {
    bo->handles[1] = bo->handles[2] = bo->handle;
    bo->pitches[1] = bo->pitches[2] = pitch / 2;
    bo->offsets[1] = pitch * height;
    bo->offsets[2] = pitch * height + (pitch / 2) * height / 2;
  }
  bo->format = format;
  bo->width = width;
  bo->height = height;
  return bo;
}

void bo_destroy(buffer_object* bo) {
  if (!bo) return;
  if (bo->map) munmap(bo->map, bo->size);
  // The exported descriptor belongs to the buffer; it would leak at every mode change.
  if (bo->dmabuf_fd > 0) close(bo->dmabuf_fd);
  destroyDumb(bo->fd, bo->handle);
  delete bo;
}
