// Helpers shared by the KMS layer's files.
#pragma once

#include "kms_modeset.h"
#include "log.h"

#define KEL_DRM_ON(bit) ((g_kelmf_debug.drm >> (bit)) & 1)

namespace kms {

// Frees one object's property lists.
void freeObject(drm_object& obj);
// Frees everything a display holds, then the display.
void discardDisplay(modeset_display_t* display);
// Id of the named property of an object; 0 when it has none (or its id is 0).
uint32_t propertyId(const drm_object& obj, const char* name);

}  // namespace kms
