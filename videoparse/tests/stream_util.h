// Test helpers: committed streams with their expectations, an independent NAL
// splitter, and a writer for hand-made H.264 units.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace vptest {

using Bytes = std::vector<uint8_t>;

inline Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

inline std::string DataPath(const std::string& name) { return std::string(VIDEOPARSE_DATA) + "/" + name; }

struct Packet {
    uint64_t pos, size;
    int key, sliceType;
};

struct Expected {
    std::map<std::string, long> values;
    std::vector<Packet> packets;
    std::vector<uint32_t> headerLengths; // per slice, from trace_headers' bit positions
};

inline Expected ReadExpected(const std::string& name) {
    Expected e;
    std::ifstream f(DataPath(name + ".expected"));
    std::string line;
    while (std::getline(f, line)) {
        std::istringstream s(line);
        std::string key;
        s >> key;
        if (key == "packet") {
            Packet p{};
            s >> p.pos >> p.size >> p.key >> p.sliceType;
            e.packets.push_back(p);
        } else if (key == "header") {
            size_t index = 0;
            uint32_t len = 0;
            s >> index >> len;
            e.headerLengths.resize(index + 1);
            e.headerLengths[index] = len;
        } else {
            long v = 0;
            s >> v;
            e.values[key] = v;
        }
    }
    return e;
}

struct Span {
    size_t pos, size;
    int type; // nal_unit_type (H.264)
};

// Splits at every 00 00 01; a zero in front of it belongs to the start code.
inline std::vector<Span> SplitNals(const Bytes& d) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 2 < d.size(); ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            starts.push_back(i > 0 && d[i - 1] == 0 && (starts.empty() || starts.back() < i - 1) ? i - 1 : i);
            i += 2;
        }
    }
    std::vector<Span> out;
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t end = k + 1 < starts.size() ? starts[k + 1] : d.size();
        const size_t sc = d[starts[k] + 2] == 1 ? 3 : 4;
        out.push_back({starts[k], end - starts[k], d[starts[k] + sc] & 31});
    }
    return out;
}

class BitWriter {
public:
    void u(uint64_t v, int n) {
        for (int i = n - 1; i >= 0; --i)
            bit((v >> i) & 1);
    }
    void ue(uint64_t v) {
        const uint64_t x = v + 1;
        int len = 0;
        while ((x >> len) > 1)
            ++len;
        u(0, len);
        u(x, len + 1);
    }
    void se(int64_t v) { ue(v > 0 ? uint64_t(2 * v - 1) : uint64_t(-2 * v)); }
    Bytes rbsp() { // with rbsp_trailing_bits
        BitWriter c = *this;
        c.bit(1);
        while (c.n_ % 8)
            c.bit(0);
        return c.b_;
    }
    Bytes raw() const { return b_; } // no trailing bits, last byte zero-padded

private:
    void bit(int v) {
        if (n_ % 8 == 0)
            b_.push_back(0);
        if (v)
            b_.back() |= uint8_t(0x80 >> (n_ % 8));
        ++n_;
    }
    Bytes b_;
    int n_ = 0;
};

// Start code 00 00 00 01, header, and the payload with emulation prevention.
inline Bytes Nal(uint8_t header, const Bytes& rbsp, bool longStart = true) {
    Bytes out = longStart ? Bytes{0, 0, 0, 1} : Bytes{0, 0, 1};
    out.push_back(header);
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

struct SpsSpec {
    uint32_t profile = 66;
    uint32_t id = 0;
    uint32_t chroma = 1;       // written for high profiles only
    bool scaling = false;      // one 4x4 list with 16 deltas of +1
    uint32_t log2FrameNum = 0; // log2_max_frame_num_minus4
    uint32_t pocType = 0;
    uint32_t log2Poc = 0;
    uint32_t pocCycle = 0;
    uint32_t gaps = 0;
    uint32_t widthMbs = 120, heightUnits = 68;
    uint32_t frameMbsOnly = 1;
    uint32_t crop[4] = {0, 0, 0, 4};
    bool vui = true;
    bool signalType = true;
    uint32_t videoFormat = 5, fullRange = 0;
    bool colourDesc = true;
    uint32_t primaries = 1, transfer = 1, matrix = 1;
    bool timing = true;
    uint32_t unitsInTick = 1001, timeScale = 60000;
};

inline Bytes MakeSps(const SpsSpec& s) {
    BitWriter w;
    w.u(s.profile, 8);
    w.u(0, 8);
    w.u(40, 8);
    w.ue(s.id);
    if (s.profile == 100 || s.profile == 110 || s.profile == 122 || s.profile == 244) {
        w.ue(s.chroma);
        if (s.chroma == 3)
            w.u(0, 1);
        w.ue(0);
        w.ue(0);
        w.u(0, 1);
        w.u(s.scaling, 1);
        if (s.scaling) {
            w.u(1, 1);
            for (int j = 0; j < 16; ++j)
                w.se(1);
            for (int i = 1; i < (s.chroma == 3 ? 12 : 8); ++i)
                w.u(0, 1);
        }
    }
    w.ue(s.log2FrameNum);
    w.ue(s.pocType);
    if (s.pocType == 0) {
        w.ue(s.log2Poc);
    } else if (s.pocType == 1) {
        w.u(0, 1);
        w.se(0);
        w.se(0);
        w.ue(s.pocCycle);
        for (uint32_t i = 0; i < s.pocCycle; ++i)
            w.se(1);
    }
    w.ue(1);
    w.u(s.gaps, 1);
    w.ue(s.widthMbs - 1);
    w.ue(s.heightUnits - 1);
    w.u(s.frameMbsOnly, 1);
    if (!s.frameMbsOnly)
        w.u(0, 1);
    w.u(1, 1);
    const bool crop = s.crop[0] || s.crop[1] || s.crop[2] || s.crop[3];
    w.u(crop, 1);
    if (crop)
        for (uint32_t c : s.crop)
            w.ue(c);
    w.u(s.vui, 1);
    if (s.vui) {
        w.u(0, 1); // aspect ratio
        w.u(0, 1); // overscan
        w.u(s.signalType, 1);
        if (s.signalType) {
            w.u(s.videoFormat, 3);
            w.u(s.fullRange, 1);
            w.u(s.colourDesc, 1);
            if (s.colourDesc) {
                w.u(s.primaries, 8);
                w.u(s.transfer, 8);
                w.u(s.matrix, 8);
            }
        }
        w.u(0, 1); // chroma location
        w.u(s.timing, 1);
        if (s.timing) {
            w.u(s.unitsInTick, 32);
            w.u(s.timeScale, 32);
            w.u(1, 1);
        }
        w.u(0, 1); // nal_hrd
        w.u(0, 1); // vcl_hrd
        w.u(0, 1); // pic_struct
        w.u(0, 1); // bitstream_restriction
    }
    return Nal(0x67, w.rbsp());
}

inline Bytes MakePps(uint32_t id = 0, uint32_t spsId = 0) {
    BitWriter w;
    w.ue(id);
    w.ue(spsId);
    w.u(0, 1);
    w.u(0, 1);
    w.ue(0);
    w.ue(0);
    w.ue(0);
    w.u(0, 1);
    w.u(0, 2);
    w.se(0);
    w.se(0);
    w.se(0);
    w.u(0, 1);
    w.u(0, 1);
    w.u(0, 1);
    return Nal(0x68, w.rbsp());
}

struct SliceSpec {
    bool idr = true;
    uint32_t refIdc = 3;
    uint32_t firstMb = 0;
    uint32_t sliceType = 7;
    uint32_t pps = 0;
    uint32_t frameNum = 0;
    uint32_t idrPicId = 0;
    uint32_t pocLsb = 0;
    bool fieldCoding = false; // the SPS has frame_mbs_only_flag 0
    bool fieldPic = false;
    bool bottom = false;
    int bodyBytes = 20; // bytes of pretend slice data after the header
    // Widths of frame_num and pic_order_cnt_lsb (log2_max_frame_num_minus4 + 4
    // and log2_max_pic_order_cnt_lsb_minus4 + 4 of the SPS); pocBits 0 for
    // pic_order_cnt_type 2.
    int frameNumBits = 4, pocBits = 4;
    // Write the rest of the header up to slice_qp_delta (for the PPS of
    // MakePps), so that a full reader such as trace_headers takes it.
    bool fullHeader = false;
    int32_t qpDelta = 0;
};

// For an SPS with log2_max_frame_num_minus4 = 0 and poc type 0, lsb minus4 = 0
// unless the SliceSpec says otherwise.
inline Bytes MakeSlice(const SliceSpec& s) {
    BitWriter w;
    w.ue(s.firstMb);
    w.ue(s.sliceType);
    w.ue(s.pps);
    w.u(s.frameNum, s.frameNumBits);
    if (s.fieldCoding) {
        w.u(s.fieldPic, 1);
        if (s.fieldPic)
            w.u(s.bottom, 1);
    }
    if (s.idr)
        w.ue(s.idrPicId);
    if (s.pocBits)
        w.u(s.pocLsb, s.pocBits);
    if (s.fullHeader) {
        const uint32_t kind = s.sliceType % 5; // 0 P, 1 B, 2 I
        if (kind == 1)
            w.u(1, 1); // direct_spatial_mv_pred_flag
        if (kind == 0 || kind == 1)
            w.u(0, 1); // num_ref_idx_active_override_flag
        if (kind != 2)
            w.u(0, 1); // ref_pic_list_modification_flag_l0
        if (kind == 1)
            w.u(0, 1); // ref_pic_list_modification_flag_l1
        if (s.refIdc) {
            if (s.idr)
                w.u(0, 2); // no_output_of_prior_pics_flag, long_term_reference_flag
            else
                w.u(0, 1); // adaptive_ref_pic_marking_mode_flag
        }
        w.se(s.qpDelta);
    }
    for (int i = 0; i < s.bodyBytes; ++i)
        w.u(0xA5, 8);
    return Nal(uint8_t((s.refIdc << 5) | (s.idr ? 5 : 1)), w.rbsp(), false);
}

inline Bytes Aud() { return Nal(0x09, {0xF0}); }

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace vptest
