// The device: open, discovery of the connected outputs, close, event dispatch.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/fixed_path.h"
#include "kms_internal.h"

namespace {

const char* const type2name[] = {"Unknown", "VGA",       "DVII", "DVID", "DVIA",    "Composite", "SVIDEO",
                                 "LVDS",    "Component", "9PinDIN", "DP", "HDMI",   "HDMI",      "TV",
                                 "eDP",     "VIRTUAL",   "DSI",  "DPI",  "WRITEBACK"};

bool crtcInUse(const kelmo_mf_drm_modeset_t* device, uint32_t crtc_id) {
  for (const modeset_display_t* d : device->displays) {
    if (d->crtc.id == crtc_id) return true;
  }
  return false;
}

bool planeInUse(const kelmo_mf_drm_modeset_t* device, uint32_t plane_id) {
  for (const modeset_display_t* d : device->displays) {
    if (d->plane.id == plane_id || d->overlay_plane.id == plane_id) return true;
  }
  return false;
}

// Picks the CRTC for a display; false when none is free.
bool chooseCrtc(kelmo_mf_drm_modeset_t* device, drmModeRes* res, modeset_display_t* display) {
  drmModeConnector* conn = display->connector_desc;
  if (conn->encoder_id) {
    drmModeEncoder* enc = drmModeGetEncoder(device->fd, conn->encoder_id);
    if (enc) {
      if (enc->crtc_id && !crtcInUse(device, enc->crtc_id)) {
        for (int i = 0; i < res->count_crtcs; ++i) {
          if (res->crtcs[i] == enc->crtc_id) display->crtc_index = static_cast<uint32_t>(i);
        }
        display->crtc.id = enc->crtc_id;
        drmModeFreeEncoder(enc);
        KEL_LOG(KEL_DRM_ON(0), "[KMFR]I crtc %u %u found for encoder\n", display->crtc.id, res->count_crtcs);
        return true;
      }
      drmModeFreeEncoder(enc);
    }
  }
  for (int i = 0; i < conn->count_encoders; ++i) {
    drmModeEncoder* enc = drmModeGetEncoder(device->fd, conn->encoders[i]);
    if (!enc) {
      KEL_LOG(true, "[KMFR]E failed to retrieve encoder %u %u : %s\n", i, conn->encoders[i], strerror(errno));
      continue;
    }
    for (int j = 0; j < res->count_crtcs; ++j) {
      if (!(enc->possible_crtcs & (1u << j))) continue;
      const uint32_t crtc_id = res->crtcs[j];
      if (crtc_id == 0 || crtcInUse(device, crtc_id)) continue;
      display->crtc.id = crtc_id;
      display->crtc_index = static_cast<uint32_t>(j);
      KEL_LOG(KEL_DRM_ON(0), "[KMFR]I crtc %u found for encoder %u, will need full modeset\n", crtc_id, enc->encoder_id);
      drmModeFreeEncoder(enc);
      return true;
    }
    drmModeFreeEncoder(enc);
  }
  KEL_LOG(true, "[KMFR]E failed to find crtc for connector %u\n", conn->connector_id);
  return false;
}

// Picks the primary and overlay plane of the display's CRTC; false when either is missing.
bool choosePlanes(kelmo_mf_drm_modeset_t* device, modeset_display_t* display) {
  drmModePlaneRes* planes = drmModeGetPlaneResources(device->fd);
  if (!planes) {
    KEL_LOG(true, "[KMFR]E drmModeGetPlaneResources failed: %s\n", strerror(errno));
    return false;
  }
  uint32_t primary = 0, overlay = 0;
  for (uint32_t i = 0; i < planes->count_planes && !(primary && overlay); ++i) {
    const uint32_t plane_id = planes->planes[i];
    drmModePlane* plane = drmModeGetPlane(device->fd, plane_id);
    if (!plane) {
      KEL_LOG(true, "[KMFR]E drmModeGetPlane %u failed: %s\n", plane_id, strerror(errno));
      continue;
    }
    KEL_LOG(KEL_DRM_ON(0), "[KMFR]I %d/%d plane %d %08x of %d\n", i, planes->count_planes, plane_id,
            plane->possible_crtcs, display->crtc_index);
    const bool compatible = plane->possible_crtcs & (1u << display->crtc_index);
    drmModeFreePlane(plane);
    // A plane another display already drives cannot serve this one too.
    if (!compatible || planeInUse(device, plane_id)) continue;
    drm_object obj;
    obj.id = plane_id;
    if (modeset_get_object_properties(device->fd, &obj, DRM_MODE_OBJECT_PLANE) != 0) continue;
    for (uint32_t k = 0; k < obj.props->count_props; ++k) {
      if (std::strcmp(obj.props_info[k]->name, "type") != 0) continue;
      const uint64_t type = obj.props->prop_values[k];
      if (type == DRM_PLANE_TYPE_PRIMARY) {
        primary = plane_id;
        KEL_LOG(KEL_DRM_ON(0), "[KMFR]I found primary %d\n", plane_id);
      } else if (type == DRM_PLANE_TYPE_OVERLAY) {
        overlay = plane_id;
        KEL_LOG(KEL_DRM_ON(0), "[KMFR]I found overlay %d\n", plane_id);
      }
      break;
    }
    kms::freeObject(obj);
  }
  drmModeFreePlaneResources(planes);
  if (!primary || !overlay) {
    KEL_LOG(true, "[KMFR]E couldn't find a primary and overlay plane\n");
    return false;
  }
  display->plane.id = primary;
  display->overlay_plane.id = overlay;
  KEL_LOG(KEL_DRM_ON(0), "[KMFR]I found primary %d overlay %d\n", primary, overlay);
  return true;
}

void freeDisplays(kelmo_mf_drm_modeset_t* device) {
  for (modeset_display_t* d : device->displays) kms::discardDisplay(d);
  device->displays.clear();
}

}  // namespace

namespace kms {

void freeObject(drm_object& obj) {
  if (obj.props_info) {
    for (uint32_t i = 0; obj.props && i < obj.props->count_props; ++i) drmModeFreeProperty(obj.props_info[i]);
    delete[] obj.props_info;
  }
  if (obj.props) drmModeFreeObjectProperties(obj.props);
  obj.props = nullptr;
  obj.props_info = nullptr;
}

void discardDisplay(modeset_display_t* display) {
  if (!display) return;
  modeset_display_buffer_destroy(display);
  if (display->mode_blob_id) drmModeDestroyPropertyBlob(display->owner->fd, display->mode_blob_id);
  for (drm_object* obj : {&display->connector, &display->crtc, &display->plane, &display->overlay_plane}) {
    freeObject(*obj);
  }
  if (display->connector_desc) drmModeFreeConnector(display->connector_desc);
  delete display;
}

uint32_t propertyId(const drm_object& obj, const char* name) {
  for (uint32_t i = 0; obj.props && i < obj.props->count_props; ++i) {
    if (std::strcmp(obj.props_info[i]->name, name) == 0) return obj.props_info[i]->prop_id;
  }
  return 0;
}

}  // namespace kms

const char* modeset_connector_type_name(uint32_t type) {
  return type < sizeof type2name / sizeof type2name[0] ? type2name[type] : "Unknown";
}

int modeset_get_object_properties(int fd, drm_object* obj, unsigned type) {
  const char* type_name = type == DRM_MODE_OBJECT_CONNECTOR ? "connector"
                          : type == DRM_MODE_OBJECT_CRTC    ? "crtc"
                          : type == DRM_MODE_OBJECT_PLANE   ? "plane"
                                                            : "unknown type";
  obj->props = drmModeObjectGetProperties(fd, obj->id, type);
  if (!obj->props) {
    KEL_LOG(true, "[KMFR]E cannot get %s %d properties: %s\n", type_name, obj->id, strerror(errno));
    return -1;
  }
  obj->props_info = new drmModePropertyRes*[obj->props->count_props]();
  for (uint32_t i = 0; i < obj->props->count_props; ++i) {
    obj->props_info[i] = drmModeGetProperty(fd, obj->props->props[i]);
    if (!obj->props_info[i]) {
      KEL_LOG(true, "[KMFR]E cannot get %s %d properties: %s\n", type_name, obj->id, strerror(errno));
      kms::freeObject(*obj);
      return -1;
    }
  }
  return 0;
}

int modeset_get_display_info(kelmo_mf_drm_modeset_t* device) {
  drmModeRes* res = drmModeGetResources(device->fd);
  std::lock_guard<std::mutex> lock(device->mutex);
  freeDisplays(device);
  if (!res) {
    KEL_LOG(true, "[KMFR]E cannot retrieve DRM resources : %s\n", strerror(errno));
    return -1;
  }
  for (int i = 0; i < res->count_crtcs; ++i) KEL_LOG(KEL_DRM_ON(0), "[KMFR]I crtc %d / %d\n", res->crtcs[i], res->count_crtcs);
  for (int i = 0; i < res->count_connectors; ++i) {
    KEL_LOG(KEL_DRM_ON(0), "[KMFR]I connectors %d / %d\n", res->connectors[i], res->count_connectors);
  }

  for (int i = 0; i < res->count_connectors; ++i) {
    drmModeConnector* conn = drmModeGetConnector(device->fd, res->connectors[i]);
    if (!conn) {
      KEL_LOG(true, "[KMFR]E cannot retrieve DRM connector %u %u : %s\n", i, res->connectors[i], strerror(errno));
      continue;
    }
    auto* display = new modeset_display_t;
    display->owner = device;
    display->connector_desc = conn;
    display->connector.id = conn->connector_id;

    if (conn->connection != DRM_MODE_CONNECTED) {
      KEL_LOG(KEL_DRM_ON(0), "[KMFR]I ignoring unused connector %u\n", conn->connector_id);
      kms::discardDisplay(display);
      continue;
    }
    if (conn->count_modes == 0) {
      KEL_LOG(true, "[KMFR]E no valid mode for connector %u\n", conn->connector_id);
      kms::discardDisplay(display);
      continue;
    }
    if (modeset_output_select(display, 0, 0, 0) != 0) {
      KEL_LOG(true, "[KMFR]E fail to set mode for connector %u\n", conn->connector_id);
      kms::discardDisplay(display);
      continue;
    }
    if (!chooseCrtc(device, res, display)) {
      KEL_LOG(true, "[KMFR]E no valid crtc for connector %u\n", conn->connector_id);
      kms::discardDisplay(display);
      continue;
    }
    if (!choosePlanes(device, display)) {
      KEL_LOG(true, "[KMFR]E no valid plane for crtc %u\n", display->crtc.id);
      kms::discardDisplay(display);
      continue;
    }
    if (modeset_get_object_properties(device->fd, &display->connector, DRM_MODE_OBJECT_CONNECTOR) ||
        modeset_get_object_properties(device->fd, &display->crtc, DRM_MODE_OBJECT_CRTC) ||
        modeset_get_object_properties(device->fd, &display->plane, DRM_MODE_OBJECT_PLANE) ||
        modeset_get_object_properties(device->fd, &display->overlay_plane, DRM_MODE_OBJECT_PLANE)) {
      KEL_LOG(true, "[KMFR]E failed to get plane properties\n");
      kms::discardDisplay(display);
      continue;
    }
    if (modeset_display_buffer_create(display, display->mode.hdisplay, display->mode.vdisplay) != 0) {
      KEL_LOG(true, "[KMFR]E failed to create buffer\n");
      kms::discardDisplay(display);
      continue;
    }
    display->name = std::string(modeset_connector_type_name(conn->connector_type)) + "-" +
                    std::to_string(conn->connector_type_id);
    KEL_LOG(KEL_DRM_ON(0), "[KMFR]I connector %u encoder %u type %u %u %s\n", conn->connector_id, conn->encoder_id,
            conn->connector_type, conn->connector_type_id, display->name.c_str());
    device->displays.push_back(display);
  }
  for (modeset_display_t* display : device->displays) {
    KEL_LOG(KEL_DISPLAY_ON(6), "[KMFR]I %s %d %d running\n", display->name.c_str(), display->crtc.id,
            display->connector.id);
    std::lock_guard<std::mutex> display_lock(display->mutex);
    display->running = true;
  }
  drmModeFreeResources(res);
  return 0;
}

int modeset_open(kelmo_mf_drm_modeset_t** out, bool master) {
  auto* device = new kelmo_mf_drm_modeset_t;
  device->master = master;
  const std::string path = tarnvik::fixedPath("/dev/dri/card0");
  device->fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (device->fd < 0) {
    KEL_LOG(true, "[KMFR]E modeset_open: cannot open drm %s\n", path.c_str());
    delete device;
    return -1;
  }
  auto failed = [device](int result) {
    close(device->fd);
    delete device;
    return result;
  };
  KEL_LOG(KEL_DRM_ON(0), "[KMFR]I modeset_open: drm node %d\n", device->fd);
  if (int ret = drmSetClientCap(device->fd, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1)) {
    KEL_LOG(true, "[KMFR]E modeset_open: failed to set universal planes cap %d\n", ret);
    return failed(ret);
  }
  if (int ret = drmSetClientCap(device->fd, DRM_CLIENT_CAP_ATOMIC, 1)) {
    KEL_LOG(true, "[KMFR]E modeset_open: failed to set atomic cap %d\n", ret);
    return failed(ret);
  }
  uint64_t cap = 0;
  if (drmGetCap(device->fd, DRM_CAP_DUMB_BUFFER, &cap) != 0 || !cap) {
    KEL_LOG(true, "[KMFR]E modeset_open: drm device %s does not support dumb buffers\n", path.c_str());
    return failed(-95);
  }
  cap = 0;
  if (drmGetCap(device->fd, DRM_CAP_CRTC_IN_VBLANK_EVENT, &cap) != 0 || !cap) {
    KEL_LOG(true, "[KMFR]E modeset_open: drm device %s does not support atomic KMS\n", path.c_str());
    return failed(-95);
  }
  if (int ret = modeset_get_display_info(device)) {
    {
      std::lock_guard<std::mutex> lock(device->mutex);
      freeDisplays(device);
    }
    return failed(ret);
  }
  if (master) modeset_perform_modeset(device);
  device->ev.version = 3;
  device->ev.page_flip_handler2 = modeset_page_flip_handler;
  *out = device;
  KEL_LOG(KEL_DRM_ON(0), "[KMFR]I modeset_get_display: done\n");
  return 0;
}

int modeset_close(kelmo_mf_drm_modeset_t* device) {
  if (!device) return 0;
  {
    std::lock_guard<std::mutex> lock(device->mutex);
    freeDisplays(device);
  }
  close(device->fd);
  delete device;
  return 0;
}

int modeset_get_display_number(kelmo_mf_drm_modeset_t* device, int* n) {
  std::lock_guard<std::mutex> lock(device->mutex);
  *n = static_cast<int>(device->displays.size());
  return 0;
}

int modeset_get_display(kelmo_mf_drm_modeset_t* device, int index, modeset_display_t** out) {
  std::lock_guard<std::mutex> lock(device->mutex);
  const int n = static_cast<int>(device->displays.size());
  if (index < 0 || index >= n) {
    KEL_LOG(true, "[KMFR]E modeset_get_display: invalid index %d / %d\n", index, n);
    return -1;
  }
  *out = device->displays[index];
  return 0;
}

void modeset_page_flip_handler(int, unsigned sequence, unsigned seconds, unsigned microseconds, unsigned crtc_id,
                               void* user_data) {
  auto* device = static_cast<kelmo_mf_drm_modeset_t*>(user_data);
  std::lock_guard<std::mutex> lock(device->mutex);
  for (modeset_display_t* display : device->displays) {
    if (display->crtc.id != crtc_id) continue;
    display->flip_sequence = sequence;
    display->flip_sec = seconds;
    display->flip_usec = microseconds;
    {
      std::lock_guard<std::mutex> display_lock(display->mutex);
      display->flip_done = true;
      display->flip_pending = false;
      display->cond.notify_one();
    }
    KEL_LOG(KEL_DRM_ON(1), "[KMFR]I %s flip %d %d.%d\n", display->name.c_str(), sequence, seconds, microseconds);
    return;
  }
}

int modeset_event(kelmo_mf_drm_modeset_t* device) {
  bool pending = false;
  {
    std::lock_guard<std::mutex> lock(device->mutex);
    for (modeset_display_t* display : device->displays) {
      std::lock_guard<std::mutex> display_lock(display->mutex);
      pending = pending || display->flip_pending;
    }
  }
  if (!pending) return 0;
  drmHandleEvent(device->fd, &device->ev);
  return 1;
}
