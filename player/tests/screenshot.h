// The whole screen of an X server as the server holds it.
#pragma once

#include <string>
#include <vector>

namespace playertest {

struct Rgb {
    int r = 0, g = 0, b = 0;
};

class Screenshot {
public:
    explicit Screenshot(const std::string& display);
    Rgb at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    bool black(int x, int y) const
    {
        Rgb p = at(x, y);
        return p.r < 8 && p.g < 8 && p.b < 8;
    }
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;
};

} // namespace playertest
