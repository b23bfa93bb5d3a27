// videoparse: H.264 / H.265 Annex B stream parser.
//
// Every function works on an opaque handle and returns a signed 64-bit status:
// 0 for success, -1 for failure. Every chunk handed in must hold whole NAL units
// (a unit ends at the next start code or at the end of its chunk); nothing is
// carried over from one call to the next. Pointers handed out point into the
// handle's own buffers (or into the caller's data) and stay valid until the next
// call on the same handle that reuses that buffer, or until the release.
//
// Two kinds of handle exist: a parse handle (ParseCreate) for ParseVideoParams,
// SetParameterSetData and GetParameterSetData, and a user-data handle
// (UserDataCreate) for AddUserData, GetUserData and RemoveUserData.
// VideoSampleTest, QueryType, SetVideoData, GetNalUnit and GetNalFromFrame work
// on either. An operation on the wrong kind of handle returns -1.
//
// A handle is used by one thread at a time; separate handles share nothing.
#ifndef VIDEOPARSE_H
#define VIDEOPARSE_H

#include <cstddef>
#include <cstdint>

#if defined(VIDEOPARSE_BUILD)
#define VIDEOPARSE_API __attribute__((visibility("default")))
#else
#define VIDEOPARSE_API
#endif

enum VideoCodecType : int {
    VideoCodecH264 = 0,
    VideoCodecH265 = 1,
};

// slice_type of the H.264 standard (0 to 9; 5 to 9 say that every slice of the
// picture has the same type), or -1 for none.
enum VideoPicType : int {
    VideoPicNone = -1,
    VideoPicP = 0,
    VideoPicB = 1,
    VideoPicI = 2,
    VideoPicSP = 3,
    VideoPicSI = 4,
    VideoPicPAll = 5,
    VideoPicBAll = 6,
    VideoPicIAll = 7,
    VideoPicSPAll = 8,
    VideoPicSIAll = 9,
};

// Result of ParseVideoParams, cleared at the start of every call.
struct VideoInfo {
    int32_t frameReady;  // 1 when this call completed an access unit
    int32_t hasParams;   // 1 when the parameter fields are filled
    int32_t key;         // the access unit holds an IDR (H.264) or IRAP (H.265) picture
    unsigned char* data; // the access unit's bytes, inside the handle's frame ring
    uint32_t size;

    // Parameter fields (1068 bytes from width).
    int32_t width;
    int32_t height;
    // Frame rate rateNum / rateDen, 0 / 0 when unknown (no timing, or an H.264
    // num_units_in_tick of 2^31 or more, whose double does not fit).
    uint32_t rateNum;    // time_scale
    uint32_t rateDen;    // H.264: 2 x num_units_in_tick; H.265: num_units_in_tick
    int32_t videoSignalTypePresent;
    int32_t videoFormat;
    int32_t videoFullRange;
    int32_t colourDescriptionPresent;
    int32_t colourPrimaries;
    int32_t transferCharacteristics;
    int32_t matrixCoefficients;
    int32_t paramReserved[256];

    unsigned char reserved[1088];
};

static_assert(offsetof(VideoInfo, frameReady) == 0);
static_assert(offsetof(VideoInfo, hasParams) == 4);
static_assert(offsetof(VideoInfo, key) == 8);
static_assert(offsetof(VideoInfo, data) == 16);
static_assert(offsetof(VideoInfo, size) == 24);
static_assert(offsetof(VideoInfo, width) == 28);
static_assert(offsetof(VideoInfo, reserved) == 28 + 1068);
static_assert(sizeof(VideoInfo) == 2184);

// Result of VideoSampleTest.
struct VideoInfoEx {
    int32_t lost;  // a frame-number gap, a lost field or an unparsable slice
    int32_t frame; // 1 for a frame, 0 for a field
    int32_t intra; // 1 for an IDR or I picture
};
static_assert(sizeof(VideoInfoEx) == 12);

// Result of GetParameterSetData: slot 0 stays empty, slot 1 is the SPS NAL unit,
// slot 2 the PPS NAL unit, each with its start code.
struct ParameterSetData {
    struct Slot {
        unsigned char* data;
        uint32_t size;
    } slot[3];
};

// Creates a parse handle with a ring of `count` access-unit buffers of `size`
// bytes each (0 keeps the defaults 6 and 100000; a count of 1 is taken as 2, so
// that a reported access unit is never refilled in the same call). An access
// unit stays valid until `count - 1` further access units have been reported.
//
// H.264: the first SPS and the first PPS seen (in the stream or given by
// SetParameterSetData) are kept and put into later IDR access units that carry
// none of their own; later in-band SPS and PPS units are parsed, not kept.
VIDEOPARSE_API int64_t ParseCreate(void** handle, VideoCodecType codec, unsigned int count,
                                   unsigned int size);
VIDEOPARSE_API int64_t ParseRelease(void* handle);

// Stores an SPS and a PPS given out of band (a missing start code is added);
// -1 when either fails to parse, and then nothing is stored.
VIDEOPARSE_API int64_t SetParameterSetData(void* handle, unsigned char* sps, unsigned int spsLen,
                                           unsigned char* pps, unsigned int ppsLen);
// Copies the frame's SPS and PPS NAL units into the handle's slots (H.264; on an
// H.265 handle -1 with `out` cleared).
VIDEOPARSE_API int64_t GetParameterSetData(void* handle, unsigned char* frame, unsigned int len,
                                           ParameterSetData* out);

// Sorts the chunk's NAL units into access units. An access unit is reported
// (frameReady 1) by the call that brings the first slice of the next picture; a
// call with null data or length 0 flushes the last one. When one call completes
// several access units, `info` describes the last. Access units larger than
// max(64 MiB, the configured buffer size) are dropped with -1.
VIDEOPARSE_API int64_t ParseVideoParams(void* handle, const unsigned char* data, unsigned int len,
                                        VideoInfo* info);
VIDEOPARSE_API int64_t VideoSampleTest(void* handle, const unsigned char* data, unsigned int len,
                                       VideoInfoEx* info);
VIDEOPARSE_API int64_t QueryType(void* handle, const unsigned char* data, unsigned int len,
                                 VideoPicType& type);

// NAL listing (H.264). SetVideoData sets the data; each GetNalUnit then hands
// out its next NAL unit (start code included) and returns:
//    0  with the unit; for a slice, isSlice is true and headerLen counts the
//       raw bytes after the NAL header (emulation-prevention bytes included)
//       up to and including the byte that holds the first bit after the
//       header's fields up to the picture order count (frame_num, field
//       flags, idr_pic_id, pic_order_cnt_lsb, delta_pic_order_cnt...);
//   -1  with the unit (non-null *nal) when it cannot be read: a forbidden
//       bit, a slice, SPS or PPS that fails to parse, or a slice whose PPS or
//       SPS has not been seen (headerLen 0); the walk goes on with the next
//       call;
//   -1  with *nal null and *nalLen 0 at the end of the data.
// So a caller walks the units until *nal comes back null, not until -1:
//     SetVideoData(h, data, len);
//     for (;;) {
//         const int64_t r = GetNalUnit(h, &nal, &nalLen, &isSlice, &headerLen);
//         if (!nal)
//             break;
//         ... // r == 0: isSlice and headerLen are valid
//     }
// SPS and PPS units met on the way are parsed, so slices after them in the
// same data are read. On an H.265 handle GetNalUnit and GetNalFromFrame return
// -1 with their outputs cleared.
VIDEOPARSE_API int64_t SetVideoData(void* handle, unsigned char* data, unsigned int len);
VIDEOPARSE_API int64_t GetNalUnit(void* handle, unsigned char** nal, unsigned int* nalLen,
                                  bool* isSlice, unsigned int* headerLen);
// Lists every NAL unit of the frame at once: *count units, their pointers and
// lengths in two arrays of the handle (valid until the next call).
VIDEOPARSE_API int64_t GetNalFromFrame(void* handle, unsigned char* frame, unsigned int len,
                                       unsigned int* count, unsigned char*** nals,
                                       unsigned int** lens);

// SEI user data (user data unregistered, UUID 99AED31B-B894-4B97-AD39-FB4ED5902BA1).
// AddUserData takes at most 16 MiB (16 x 2^20 bytes) of user data per message;
// more returns -1 with nothing added.
VIDEOPARSE_API int64_t UserDataCreate(void** handle, VideoCodecType codec);
VIDEOPARSE_API int64_t UserDataRelease(void* handle);
VIDEOPARSE_API int64_t AddUserData(void* handle, const unsigned char* frame, unsigned int frameLen,
                                   const unsigned char* user, unsigned int userLen,
                                   const unsigned char** out, unsigned int* outLen);
VIDEOPARSE_API int64_t GetUserData(void* handle, const unsigned char* frame, unsigned int len,
                                   const unsigned char** out, unsigned int* outLen);
VIDEOPARSE_API int64_t RemoveUserData(void* handle, const unsigned char* frame, unsigned int len,
                                      const unsigned char** out, unsigned int* outLen);

#endif
