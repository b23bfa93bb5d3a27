#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "player/player_state.h"
#include "player/status_records.h"
#include "testsupport/sandbox.h"

namespace {

const char* kPipe = "/tmp/tarnvik-dashboard-pipe";
const char* kAvInfo = "/etc/tarnvik_avinfo.json";

struct VideoCase {
    int frame_height;  // as the receiver hands it over: for fields the field height
    int rate_n, rate_d;
    int progressive;
    const char* value;
};

void PrintTo(const VideoCase& c, std::ostream* os)
{
    *os << c.value;
}


class VideoRecordText : public ::testing::TestWithParam<VideoCase> {};

TEST_P(VideoRecordText, NamesHeightScanAndRate)
{
    const VideoCase& c = GetParam();
    testsupport::Sandbox box;
    float rate = static_cast<float>(c.rate_n) / static_cast<float>(c.rate_d);
    if (!c.progressive)
        rate *= 2;
    ASSERT_TRUE(WriteNDIConnectionInfoForVideo(false, c.frame_height, rate, c.progressive));
    const std::string expected = std::string("{\"dashboard_vid_input\":\"Decode: ") + c.value + "\"}";
    // Without a pipe at the path, the record replaces a regular file of that name.
    EXPECT_EQ(box.readFile(kPipe), expected);
    EXPECT_EQ(box.readFile(kAvInfo), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, VideoRecordText,
                         ::testing::Values(VideoCase{1080, 30000, 1001, 1, "1080p29.97"},
                                           VideoCase{540, 30000, 1001, 0, "1080i59.94"},
                                           VideoCase{1080, 60, 1, 1, "1080p60"},
                                           VideoCase{1080, 60000, 1001, 1, "1080p59.94"},
                                           VideoCase{2160, 30, 1, 1, "2160p30"},
                                           VideoCase{288, 25, 1, 0, "576i50"},
                                           VideoCase{720, 50, 1, 1, "720p50"}));

TEST(StatusRecords, NotFoundRecordAndZeroedFormat)
{
    testsupport::Sandbox box;
    video_width = 1920;
    video_height = 1080;
    video_fps = 60.0f;
    ASSERT_TRUE(WriteNDIConnectionInfoForVideo(true, 0, 0.0f, 1));
    const std::string expected = "{\"dashboard_vid_input\":\"Decode: NDI source not found\"}";
    EXPECT_EQ(box.readFile(kPipe), expected);
    EXPECT_EQ(box.readFile(kAvInfo), expected);
    EXPECT_EQ(video_width.load(), 0);
    EXPECT_EQ(video_height.load(), 0);
    EXPECT_EQ(video_fps.load(), 0.0f);
}

TEST(StatusRecords, AudioRecordGoesToThePipeOnly)
{
    struct Case {
        int channels, rate;
        const char* text;
    };
    const Case cases[] = {{2, 48000, "{\"aud_ch\":2,\"aud_sr\":48000}"},
                          {0, 0, "{\"aud_ch\":0,\"aud_sr\":0}"},
                          {16, 44100, "{\"aud_ch\":16,\"aud_sr\":44100}"}};
    for (const Case& c : cases) {
        testsupport::Sandbox box;
        ASSERT_TRUE(WriteConnectionInfoForAudio(c.channels, c.rate));
        EXPECT_EQ(box.readFile(kPipe), c.text);
        EXPECT_FALSE(box.exists(kAvInfo));
    }
}

TEST(StatusRecords, AvInfoFileIsReplacedWholeWithoutLeftovers)
{
    testsupport::Sandbox box;
    box.writeFile(kAvInfo, std::string(500, 'x'));
    ASSERT_TRUE(WriteNDIConnectionInfoForVideo(false, 1080, 60.0f, 1));
    EXPECT_EQ(box.readFile(kAvInfo), "{\"dashboard_vid_input\":\"Decode: 1080p60\"}");
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(box.path("/etc"))) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1);  // no temporary file left behind
    struct stat info {};
    ASSERT_EQ(::stat(box.path(kAvInfo).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);  // readable by the control GUI
}

// Reads one record per opening, as the dashboard's reader does.
std::string readOneRecord(const std::string& fifo)
{
    int fd = ::open(fifo.c_str(), O_RDONLY);
    std::string text;
    char buffer[256];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return text;
}

TEST(DashboardPipe, EachRecordReachesTheReader)
{
    testsupport::Sandbox box;
    const std::string fifo = box.path(kPipe);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string first;
    std::string second;
    std::atomic<bool> first_read{false};
    std::thread reader([&] {
        first = readOneRecord(fifo);
        first_read = true;
        second = readOneRecord(fifo);
    });
    EXPECT_TRUE(writeDashboardRecord("{\"a\":1}"));
    // The reader may still hold the first opening: wait until it has read it.
    while (!first_read)
        std::this_thread::yield();
    EXPECT_TRUE(writeDashboardRecord("{\"b\":2}"));
    reader.join();
    EXPECT_EQ(first, "{\"a\":1}");
    EXPECT_EQ(second, "{\"b\":2}");
}

TEST(DashboardPipe, WithoutReaderGivesUpWhenStoppedOrAtExit)
{
    testsupport::Sandbox box;
    const std::string fifo = box.path(kPipe);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    bool written = true;
    std::thread writer([&] {
        written = writeDashboardRecord("{\"x\":0}", &stop);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done.load());  // still waiting for a reader
    stop = true;
    writer.join();
    EXPECT_FALSE(written);

    exit_loop = true;
    EXPECT_FALSE(writeDashboardRecord("{\"x\":1}"));
    exit_loop = false;
}

TEST(DashboardPipe, ReaderArrivingLaterGetsTheRecord)
{
    testsupport::Sandbox box;
    const std::string fifo = box.path(kPipe);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    bool written = false;
    std::thread writer([&] { written = writeDashboardRecord("{\"late\":1}"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(readOneRecord(fifo), "{\"late\":1}");
    writer.join();
    EXPECT_TRUE(written);
}

TEST(DashboardPipe, SymbolicLinkIsNotFollowed)
{
    testsupport::Sandbox box;
    const std::string target = box.path("/etc/victim");
    box.writeFile("/etc/victim", "keep");
    ASSERT_EQ(::symlink(target.c_str(), box.path(kPipe).c_str()), 0);
    EXPECT_FALSE(writeDashboardRecord("{\"x\":1}"));
    EXPECT_EQ(box.readFile("/etc/victim"), "keep");
}

TEST(DashboardPipe, BrokenPipeDoesNotKillThePlayer)
{
    testsupport::Sandbox box;
    writeDashboardRecord("{}");
    struct sigaction action {};
    ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &action), 0);
    EXPECT_EQ(action.sa_handler, SIG_IGN);
}

} // namespace
