// Bytes per second of H.264 access-unit assembly: videoparse's ParseVideoParams
// beside libavcodec's parser (av_parser_parse2) on the same 1080p stream.
// The committed 1080p test stream is repeated to a few MB; VIDEOPARSE_BENCH_STREAM
// names another Annex B stream to use instead.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "videoparse.h"

namespace {

struct Stream {
    std::vector<unsigned char> bytes; // padded for libavcodec
    size_t size = 0;
    std::vector<std::pair<size_t, size_t>> nals; // offset, length
};

const Stream& GetStream() {
    static Stream s = [] {
        Stream st;
        const char* env = std::getenv("VIDEOPARSE_BENCH_STREAM");
        const std::string path = env ? env : VIDEOPARSE_DATA "/h264_aud_1080.h264";
        std::ifstream f(path, std::ios::binary);
        std::vector<unsigned char> one((std::istreambuf_iterator<char>(f)), {});
        const int repeat = env ? 1 : 100;
        for (int i = 0; i < repeat; ++i)
            st.bytes.insert(st.bytes.end(), one.begin(), one.end());
        st.size = st.bytes.size();
        st.bytes.resize(st.size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        std::vector<size_t> starts;
        for (size_t i = 0; i + 2 < st.size; ++i)
            if (st.bytes[i] == 0 && st.bytes[i + 1] == 0 && st.bytes[i + 2] == 1) {
                starts.push_back(i > 0 && st.bytes[i - 1] == 0 ? i - 1 : i);
                i += 2;
            }
        for (size_t k = 0; k < starts.size(); ++k)
            st.nals.emplace_back(starts[k], (k + 1 < starts.size() ? starts[k + 1] : st.size) - starts[k]);
        return st;
    }();
    return s;
}

void Videoparse_NalPerCall(benchmark::State& state) {
    const Stream& s = GetStream();
    int64_t frames = 0;
    for (auto _ : state) {
        void* h = nullptr;
        ParseCreate(&h, VideoCodecH264, 0, 0);
        VideoInfo vi;
        for (const auto& [off, len] : s.nals) {
            ParseVideoParams(h, s.bytes.data() + off, static_cast<unsigned>(len), &vi);
            frames += vi.frameReady;
        }
        ParseVideoParams(h, nullptr, 0, &vi);
        frames += vi.frameReady;
        ParseRelease(h);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size));
    state.counters["frames"] = benchmark::Counter(double(frames), benchmark::Counter::kAvgIterations);
}

void RunAvParser(benchmark::State& state, bool perNal) {
    const Stream& s = GetStream();
    int64_t frames = 0;
    for (auto _ : state) {
        AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_H264);
        AVCodecContext* ctx = avcodec_alloc_context3(nullptr);
        uint8_t* out = nullptr;
        int outSize = 0;
        auto feed = [&](const uint8_t* p, int n) {
            while (n > 0) {
                const int used = av_parser_parse2(parser, ctx, &out, &outSize, p, n, AV_NOPTS_VALUE,
                                                  AV_NOPTS_VALUE, 0);
                p += used;
                n -= used;
                frames += outSize > 0;
            }
        };
        if (perNal) {
            for (const auto& [off, len] : s.nals)
                feed(s.bytes.data() + off, static_cast<int>(len));
        } else {
            feed(s.bytes.data(), static_cast<int>(s.size));
        }
        av_parser_parse2(parser, ctx, &out, &outSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        frames += outSize > 0;
        av_parser_close(parser);
        avcodec_free_context(&ctx);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size));
    state.counters["frames"] = benchmark::Counter(double(frames), benchmark::Counter::kAvgIterations);
}

void AvParser_NalPerCall(benchmark::State& state) { RunAvParser(state, true); }
void AvParser_WholeBuffer(benchmark::State& state) { RunAvParser(state, false); }

BENCHMARK(Videoparse_NalPerCall)->Unit(benchmark::kMillisecond);
BENCHMARK(AvParser_NalPerCall)->Unit(benchmark::kMillisecond);
BENCHMARK(AvParser_WholeBuffer)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
