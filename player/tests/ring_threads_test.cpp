// A fast writer that re-initialises the output every few dozen frames against a reader
// that checks every slot it gets: no torn slot, and (under ThreadSanitizer) no race.
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "player/conversion.h"
#include "player/frame_ring.h"
#include "player/player_state.h"
#include "player/tests/player_testing.h"

namespace {

struct Format {
    int width, height, screen_w, screen_h, frame_format;
};

TEST(RingThreads, ReaderNeverSeesATornOrFreedSlot)
{
    playertest::resetPlayerState();
    const Format formats[] = {
        {96, 54, 192, 108, kFrameProgressive},
        {128, 96, 160, 90, kFrameProgressive},
        {96, 27, 96, 54, kFrameField0},  // fields, woven
        {80, 45, 80, 46, kFrameProgressive},  // an odd output height
        {64, 36, 64, 36, kFrameInterleaved},
    };
    const int frames = 1500;
    const int frames_per_format = 37;
    std::atomic<bool> writer_done{false};
    std::atomic<int> torn{0};
    std::atomic<int> checked{0};

    std::thread reader([&] {
        std::vector<uint8_t> first;
        std::vector<uint8_t> last;
        int texture_w = 0;
        int texture_h = 0;
        while (!writer_done.load()) {
            if (isNeededOpenglReset.exchange(0)) {
                texture_w = outvideo_width.load();
                texture_h = outvideo_height.load();
            }
            CONVERTER_BUFFER* slot = acquireNewestSlot();
            if (slot == nullptr) {
                std::this_thread::yield();
                continue;
            }
            // Textures of another size than the slot: a reset is pending, draw nothing.
            if (slot->width != texture_w || slot->height != texture_h) {
                releaseSlot(slot, false);
                continue;
            }
            const int w = slot->width;
            const int h = slot->height;
            first.assign(slot->planes[0], slot->planes[0] + w);
            std::this_thread::sleep_for(std::chrono::microseconds(50));  // an upload takes a while
            last.assign(slot->planes[0] + static_cast<size_t>(w) * (h - 1), slot->planes[0] + static_cast<size_t>(w) * h);
            const uint8_t chroma_end = slot->planes[2][static_cast<size_t>(w / 2) * ((h + 1) / 2) - 1];
            const int format = slot->frame_format;
            releaseSlot(slot, true);

            bool uniform = true;
            for (uint8_t value : first)
                uniform = uniform && value == first[0];
            for (uint8_t value : last)
                uniform = uniform && value == first[0];
            if (!uniform || chroma_end != 128 || (format != kFrameProgressive && format != kFrameField1 &&
                                                  format != kFrameInterleaved))
            {
                if (torn.fetch_add(1) < 5)
                    ADD_FAILURE() << "slot " << w << "x" << h << " format " << format << " first " << int(first[0])
                                  << " last " << int(last[0]) << "/" << int(last[w - 1]) << " chroma " << int(chroma_end);
            }
            checked.fetch_add(1);
        }
    });

    std::vector<playertest::UyvyImage> pictures;
    int format_index = -1;
    for (int n = 0; n < frames; ++n) {
        if (n % frames_per_format == 0) {
            format_index = (format_index + 1) % 5;
            const Format& f = formats[format_index];
            auto image = playertest::makeUyvy(f.width, f.height, 2 * f.width + 16, [](int, int) { return uint8_t(0); });
            isRendered = 1;
            isInitVideo = 1;
            ASSERT_TRUE(reinitOutput(image.picture(f.frame_format), f.screen_w, f.screen_h, nullptr));
        }
        const Format& f = formats[format_index];
        // The frame counter in every luma sample (both fields of a woven frame alike).
        const auto value = static_cast<uint8_t>(20 + n % 200);
        auto image = playertest::makeUyvy(f.width, f.height, 2 * f.width + 16, [value](int, int) { return value; });
        if (f.frame_format == kFrameField0) {
            convertIntoRing(image.picture(kFrameField0));
            convertIntoRing(image.picture(kFrameField1));
        } else {
            convertIntoRing(image.picture(f.frame_format));
        }
        if (n % 3 == 0)
            std::this_thread::yield();
    }
    writer_done = true;
    reader.join();

    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(checked.load(), 0);
    playertest::resetPlayerState();
}

} // namespace
