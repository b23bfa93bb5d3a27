#include "color_matrix.h"

#include "log.h"

kelmf_matrix4_t YUV2RGBMatrix(float Kr, float Kg, float Kb, bool tenBit, bool limitedRange)
{
    float ys, cs, y0, c0;
    c0 = tenBit ? -512.0f / 1023.0f : -128.0f / 255.0f;
    if (limitedRange) {
        ys = tenBit ? 1023.0f / 876.0f : 255.0f / 219.0f;
        cs = tenBit ? 1023.0f / 896.0f : 255.0f / 224.0f;
        y0 = tenBit ? -64.0f / 876.0f : -16.0f / 219.0f;
    } else {
        ys = 1.0f;
        cs = 1.0f;
        y0 = 0.0f;  // full-range luma starts at code 0
    }
    const float a = 2.0f * (1.0f - Kr);
    const float b = 2.0f * (1.0f - Kb);
    const float g1 = 2.0f * Kb * (1.0f - Kb) / Kg;
    const float g2 = 2.0f * Kr * (1.0f - Kr) / Kg;
    return {{
        ys, 0.0f, cs * a, cs * a * c0 + y0,
        ys, -cs * g1, -cs * g2, y0 - cs * g1 * c0 - cs * g2 * c0,
        ys, cs * b, 0.0f, cs * b * c0 + y0,
        0.0f, 0.0f, 0.0f, 1.0f,
    }};
}

kelmf_matrix4_t RGB2XYZMatrix(const DisplayChromaticities&)
{
    KEL_LOG(true, "[KMFR]E Not implement");
    return {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
}
