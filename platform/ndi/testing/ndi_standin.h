// Test-only controls of the NDI stand-in runtime; the system's code never includes this.
#pragma once

#include <stdint.h>

#include "Processing.NDI.Lib.h"

// Frames handed out by capture and handed back by the three frees, since the process
// started or the last reset. A free of a frame that is not out (twice, or never captured)
// counts in bad_frees and releases nothing.
typedef struct ndi_standin_counts_t {
  int64_t video_captured;
  int64_t video_freed;
  int64_t audio_captured;
  int64_t audio_freed;
  int64_t metadata_captured;
  int64_t metadata_freed;
  int64_t bad_frees;
} ndi_standin_counts_t;

NDILIB_EXTERN_C NDILIB_API ndi_standin_counts_t ndi_standin_counts(void);
// All kinds together.
NDILIB_EXTERN_C NDILIB_API int64_t ndi_standin_frames_captured(void);
NDILIB_EXTERN_C NDILIB_API int64_t ndi_standin_frames_freed(void);
// Frames captured and not yet freed.
NDILIB_EXTERN_C NDILIB_API int64_t ndi_standin_frames_outstanding(void);
// Zeroes the counts (and the numbers of the log) and drops the loaded scenario, so the next call reads the scenario
// file (TARNVIK_NDI_SCENARIO) and the log path (TARNVIK_NDI_LOG) again.
NDILIB_EXTERN_C NDILIB_API void ndi_standin_reset(void);
