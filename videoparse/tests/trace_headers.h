// ffmpeg's trace_headers bitstream filter as an independent reader of the
// streams and units the tests use: every syntax element with its bit position
// in the unit's RBSP (NAL header included) and its value.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "stream_util.h"
#include "testsupport/process.h"

namespace vptest {

struct TraceElement {
    uint64_t pos;      // first bit, counted from the NAL header's first bit
    std::string name;  // e.g. "pic_order_cnt_lsb", "used_by_curr_pic_flag[1]"
    uint64_t bits;     // length of the coded element
    int64_t value;
};

// One titled part of the trace ("Sequence Parameter Set", "Slice Header", ...).
struct TraceSection {
    std::string title;
    std::vector<TraceElement> elements;

    const TraceElement* Find(const std::string& name) const {
        for (const auto& e : elements)
            if (e.name == name)
                return &e;
        return nullptr;
    }
    int64_t Value(const std::string& name, int64_t absent = -1) const {
        const TraceElement* e = Find(name);
        return e ? e->value : absent;
    }
};

inline bool HaveFfmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

// Runs trace_headers over an Annex B stream of the given format ("h264" or
// "hevc"), every packet included (also those before the first key frame);
// nothing when ffmpeg cannot be run. ffmpeg may stop at a unit it
// cannot read (the tests' slices carry no real picture data): the sections
// before it are kept.
inline std::optional<std::vector<TraceSection>> TraceHeaders(const Bytes& stream, const char* format) {
    const char* tmp = std::getenv("TMPDIR");
    std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/vptest-trace-XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0)
        return std::nullopt;
    const bool written = write(fd, stream.data(), stream.size()) == ssize_t(stream.size());
    close(fd);
    const testsupport::ProcessResult run =
        written ? testsupport::runProcess({"ffmpeg", "-hide_banner", "-nostats", "-f", format, "-i", name, "-c",
                                           "copy", "-copyinkf", "-bsf:v", "trace_headers", "-f", "null", "-"})
                : testsupport::ProcessResult{};
    unlink(name.c_str());
    if (!written || run.exitCode == 127 || run.timedOut)
        return std::nullopt;
    std::vector<TraceSection> sections;
    static const std::regex element(R"(^\[trace_headers @ [^\]]*\] (\d+)\s+(\S+)\s+([01]+) = (-?\d+)\s*$)");
    static const std::regex title(R"(^\[trace_headers @ [^\]]*\] ([A-Za-z].*?)\s*$)");
    std::istringstream lines(run.err);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, m, element)) {
            if (sections.empty())
                sections.push_back({"", {}});
            sections.back().elements.push_back({std::stoull(m[1]), m[2], uint64_t(m[3].length()), std::stoll(m[4])});
        } else if (std::regex_match(line, m, title)) {
            sections.push_back({m[1], {}});
        }
    }
    return sections;
}

// The sections with this title, in stream order.
inline std::vector<TraceSection> SectionsTitled(const std::vector<TraceSection>& all,
                                                const std::string& titleText) {
    std::vector<TraceSection> out;
    for (const auto& s : all)
        if (s.title == titleText)
            out.push_back(s);
    return out;
}

} // namespace vptest
