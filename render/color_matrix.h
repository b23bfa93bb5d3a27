// Colour matrices: 4x4, row by row, applied to the column (Y, U, V, 1) of normalised samples.
#pragma once

struct kelmf_matrix4_t {
    float m[16];
};

struct DisplayChromaticities {
    float redX, redY, greenX, greenY, blueX, blueY, whiteX, whiteY;
};

kelmf_matrix4_t YUV2RGBMatrix(float Kr, float Kg, float Kb, bool tenBit, bool limitedRange);
kelmf_matrix4_t RGB2XYZMatrix(const DisplayChromaticities& chromaticities);
