// The NDI runtime interface the system uses: receiving, discovery and audio interleaving.
// Built against the project's stand-in runtime by default; with NDI_SDK_DIR set the real
// SDK's header of the same name takes its place.
#pragma once

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(__GNUC__)
#define NDILIB_API __attribute__((visibility("default")))
#else
#define NDILIB_API
#endif

#ifdef __cplusplus
#define NDILIB_DEFAULT(value) = value
#define NDILIB_EXTERN_C extern "C"
#else
#define NDILIB_DEFAULT(value)
#define NDILIB_EXTERN_C
#endif

#define NDI_LIB_FOURCC(ch0, ch1, ch2, ch3)                                                  \
  ((uint32_t)(uint8_t)(ch0) | ((uint32_t)(uint8_t)(ch1) << 8) | ((uint32_t)(uint8_t)(ch2) << 16) | \
   ((uint32_t)(uint8_t)(ch3) << 24))

typedef void* NDIlib_recv_instance_t;
typedef void* NDIlib_find_instance_t;

// What one capture call delivered.
typedef enum NDIlib_frame_type_e {
  NDIlib_frame_type_none = 0,
  NDIlib_frame_type_video = 1,
  NDIlib_frame_type_audio = 2,
  NDIlib_frame_type_metadata = 3,
  NDIlib_frame_type_error = 4,
  NDIlib_frame_type_status_change = 100,
  NDIlib_frame_type_max = 0x7fffffff
} NDIlib_frame_type_e;

typedef enum NDIlib_FourCC_video_type_e {
  NDIlib_FourCC_video_type_UYVY = NDI_LIB_FOURCC('U', 'Y', 'V', 'Y'),
  NDIlib_FourCC_video_type_UYVA = NDI_LIB_FOURCC('U', 'Y', 'V', 'A'),
  NDIlib_FourCC_video_type_P216 = NDI_LIB_FOURCC('P', '2', '1', '6'),
  NDIlib_FourCC_video_type_BGRA = NDI_LIB_FOURCC('B', 'G', 'R', 'A'),
  NDIlib_FourCC_video_type_max = 0x7fffffff
} NDIlib_FourCC_video_type_e;

typedef enum NDIlib_recv_color_format_e {
  NDIlib_recv_color_format_fastest = 100,
  NDIlib_recv_color_format_max = 0x7fffffff
} NDIlib_recv_color_format_e;

typedef enum NDIlib_recv_bandwidth_e {
  NDIlib_recv_bandwidth_highest = 100,
  NDIlib_recv_bandwidth_max = 0x7fffffff
} NDIlib_recv_bandwidth_e;

// Scan of a video frame. Fields come as separate half-height frames, field 0 first.
typedef enum NDIlib_frame_format_type_e {
  NDIlib_frame_format_type_interleaved = 0,
  NDIlib_frame_format_type_progressive = 1,
  NDIlib_frame_format_type_field_0 = 2,
  NDIlib_frame_format_type_field_1 = 3,
  NDIlib_frame_format_type_max = 0x7fffffff
} NDIlib_frame_format_type_e;

// Time code value that asks the runtime to make one up.
static const int64_t NDIlib_send_timecode_synthesize = INT64_MAX;

typedef struct NDIlib_source_t {
  const char* p_ndi_name NDILIB_DEFAULT(NULL);
  const char* p_url_address NDILIB_DEFAULT(NULL);
} NDIlib_source_t;

typedef struct NDIlib_recv_create_v3_t {
  NDIlib_source_t source_to_connect_to;
  NDIlib_recv_color_format_e color_format NDILIB_DEFAULT(NDIlib_recv_color_format_fastest);
  NDIlib_recv_bandwidth_e bandwidth NDILIB_DEFAULT(NDIlib_recv_bandwidth_highest);
  bool allow_video_fields NDILIB_DEFAULT(true);
  const char* p_ndi_recv_name NDILIB_DEFAULT(NULL);
} NDIlib_recv_create_v3_t;

typedef struct NDIlib_find_create_t {
  bool show_local_sources NDILIB_DEFAULT(true);
  const char* p_groups NDILIB_DEFAULT(NULL);
  const char* p_extra_ips NDILIB_DEFAULT(NULL);
} NDIlib_find_create_t;

typedef struct NDIlib_video_frame_v2_t {
  int xres NDILIB_DEFAULT(0);
  int yres NDILIB_DEFAULT(0);
  NDIlib_FourCC_video_type_e FourCC NDILIB_DEFAULT(NDIlib_FourCC_video_type_UYVY);
  int frame_rate_N NDILIB_DEFAULT(30000);
  int frame_rate_D NDILIB_DEFAULT(1001);
  NDIlib_frame_format_type_e frame_format_type NDILIB_DEFAULT(NDIlib_frame_format_type_progressive);
  uint8_t* p_data NDILIB_DEFAULT(NULL);
  int line_stride_in_bytes NDILIB_DEFAULT(0);
} NDIlib_video_frame_v2_t;

// Planar float audio: channel c starts channel_stride_in_bytes * c bytes after p_data.
typedef struct NDIlib_audio_frame_v2_t {
  int sample_rate NDILIB_DEFAULT(48000);
  int no_channels NDILIB_DEFAULT(2);
  int no_samples NDILIB_DEFAULT(0);
  float* p_data NDILIB_DEFAULT(NULL);
  int channel_stride_in_bytes NDILIB_DEFAULT(0);
} NDIlib_audio_frame_v2_t;

// Interleaved signed 16-bit audio. reference_level is the headroom in dB: a float sample
// of 1.0 becomes 32767 / 10^(reference_level / 20).
typedef struct NDIlib_audio_frame_interleaved_16s_t {
  int sample_rate NDILIB_DEFAULT(48000);
  int no_channels NDILIB_DEFAULT(2);
  int no_samples NDILIB_DEFAULT(0);
  int reference_level NDILIB_DEFAULT(0);
  int16_t* p_data NDILIB_DEFAULT(NULL);
} NDIlib_audio_frame_interleaved_16s_t;

// XML text; length 0 means the runtime measures it.
typedef struct NDIlib_metadata_frame_t {
  int length NDILIB_DEFAULT(0);
  int64_t timecode NDILIB_DEFAULT(NDIlib_send_timecode_synthesize);
  char* p_data NDILIB_DEFAULT(NULL);
} NDIlib_metadata_frame_t;

// Frames waiting in a receiver's queue.
typedef struct NDIlib_recv_queue_t {
  int video_frames NDILIB_DEFAULT(0);
  int audio_frames NDILIB_DEFAULT(0);
  int metadata_frames NDILIB_DEFAULT(0);
} NDIlib_recv_queue_t;

// Frame counts of a receiver since its creation.
typedef struct NDIlib_recv_performance_t {
  int64_t video_frames NDILIB_DEFAULT(0);
  int64_t audio_frames NDILIB_DEFAULT(0);
  int64_t metadata_frames NDILIB_DEFAULT(0);
} NDIlib_recv_performance_t;

NDILIB_EXTERN_C NDILIB_API bool NDIlib_initialize(void);
NDILIB_EXTERN_C NDILIB_API void NDIlib_destroy(void);
NDILIB_EXTERN_C NDILIB_API const char* NDIlib_version(void);

// p_config_data: the JSON configuration text, or NULL for the defaults.
NDILIB_EXTERN_C NDILIB_API NDIlib_recv_instance_t NDIlib_recv_create_v4(
    const NDIlib_recv_create_v3_t* p_create_settings, const char* p_config_data NDILIB_DEFAULT(NULL));
NDILIB_EXTERN_C NDILIB_API void NDIlib_recv_destroy(NDIlib_recv_instance_t p_instance);

// Waits up to timeout_in_ms for one frame; a NULL frame pointer skips frames of that kind.
NDILIB_EXTERN_C NDILIB_API NDIlib_frame_type_e NDIlib_recv_capture_v2(
    NDIlib_recv_instance_t p_instance, NDIlib_video_frame_v2_t* p_video_data,
    NDIlib_audio_frame_v2_t* p_audio_data, NDIlib_metadata_frame_t* p_metadata,
    uint32_t timeout_in_ms);
NDILIB_EXTERN_C NDILIB_API void NDIlib_recv_free_video_v2(NDIlib_recv_instance_t p_instance,
                                                          const NDIlib_video_frame_v2_t* p_video_data);
NDILIB_EXTERN_C NDILIB_API void NDIlib_recv_free_audio_v2(NDIlib_recv_instance_t p_instance,
                                                          const NDIlib_audio_frame_v2_t* p_audio_data);
NDILIB_EXTERN_C NDILIB_API void NDIlib_recv_free_metadata(NDIlib_recv_instance_t p_instance,
                                                          const NDIlib_metadata_frame_t* p_metadata);
NDILIB_EXTERN_C NDILIB_API bool NDIlib_recv_send_metadata(NDIlib_recv_instance_t p_instance,
                                                          const NDIlib_metadata_frame_t* p_metadata);
NDILIB_EXTERN_C NDILIB_API void NDIlib_recv_get_queue(NDIlib_recv_instance_t p_instance,
                                                      NDIlib_recv_queue_t* p_total);
NDILIB_EXTERN_C NDILIB_API void NDIlib_recv_get_performance(NDIlib_recv_instance_t p_instance,
                                                            NDIlib_recv_performance_t* p_total,
                                                            NDIlib_recv_performance_t* p_dropped);

// Fills p_dst's rate, channels and samples from p_src and writes the interleaved samples
// into p_dst->p_data (no_samples * no_channels values), saturating.
NDILIB_EXTERN_C NDILIB_API void NDIlib_util_audio_to_interleaved_16s_v2(
    const NDIlib_audio_frame_v2_t* p_src, NDIlib_audio_frame_interleaved_16s_t* p_dst);

NDILIB_EXTERN_C NDILIB_API NDIlib_find_instance_t NDIlib_find_create_v2(
    const NDIlib_find_create_t* p_create_settings NDILIB_DEFAULT(NULL));
NDILIB_EXTERN_C NDILIB_API NDIlib_find_instance_t NDIlib_find_create_v3(
    const NDIlib_find_create_t* p_create_settings NDILIB_DEFAULT(NULL),
    const char* p_config_data NDILIB_DEFAULT(NULL));
NDILIB_EXTERN_C NDILIB_API void NDIlib_find_destroy(NDIlib_find_instance_t p_instance);
// True as soon as the list of sources differs from the one last seen, false after
// timeout_in_ms without a change.
NDILIB_EXTERN_C NDILIB_API bool NDIlib_find_wait_for_sources(NDIlib_find_instance_t p_instance,
                                                             uint32_t timeout_in_ms);
// The sources seen now; the array stays valid until the next call on this finder.
NDILIB_EXTERN_C NDILIB_API const NDIlib_source_t* NDIlib_find_get_current_sources(
    NDIlib_find_instance_t p_instance, uint32_t* p_no_sources);
