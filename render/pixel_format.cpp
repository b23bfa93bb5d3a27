#include "pixel_format.h"

const kelmf_pixel_data_t g_PixelData[kPixelDataCount] = {
    {ARGB32, 1, 1, 0, 8, {4}, {{1, 1}}, {GL_RGBA}, "#define ARGB32\n"},
    {ABGR32, 1, 1, 0, 8, {4}, {{1, 1}}, {GL_RGBA}, "#define ABGR32\n"},
    {RGB24, 1, 1, 0, 8, {3}, {{1, 1}}, {GL_RGB}, "#define RGB24\n"},
    {BGR24, 1, 1, 0, 8, {3}, {{1, 1}}, {GL_RGB}, "#define BGR24\n"},
    {YV12, 3, 3, 3, 8, {1, 1, 1}, {{1, 1}, {2, 2}, {2, 2}}, {GL_RED, GL_RED, GL_RED}, "#define YV12\n"},
    {I420, 3, 3, 3, 8, {1, 1, 1}, {{1, 1}, {2, 2}, {2, 2}}, {GL_RED, GL_RED, GL_RED}, "#define I420\n"},
    {NV12, 2, 2, 3, 8, {1, 2}, {{1, 1}, {2, 2}}, {GL_RED, GL_RG}, "#define NV12\n"},
    {P010, 2, 2, 3, 10, {2, 4}, {{1, 1}, {2, 2}}, {GL_RED, GL_RG}, "#define P010\n"},
    {Y416, 1, 1, 1, 16, {4}, {{1, 1}}, {GL_RGBA16I}, "#define Y416\n"},
    {UYVY, 1, 2, 2, 8, {2, 0}, {{1, 1}, {2, 1}}, {GL_RG, GL_RGBA}, "#define UYVY\n"},
    {YUY2, 1, 2, 2, 8, {2, 0}, {{1, 1}, {2, 1}}, {GL_RG, GL_RGBA}, "#define YUY2\n"},
};

const kelmf_pixel_data_t* findPixelData(uint32_t format)
{
    for (const auto& entry : g_PixelData)
        if (entry.format == format)
            return &entry;
    return nullptr;
}
