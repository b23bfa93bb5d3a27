// SEI user data unregistered: add, get and remove the message with our UUID.
#include <cstring>

#include "parser_base.h"

namespace videoparse {

namespace {

constexpr uint8_t kUuid[16] = {0x99, 0xAE, 0xD3, 0x1B, 0xB8, 0x94, 0x4B, 0x97,
                               0xAD, 0x39, 0xFB, 0x4E, 0xD5, 0x90, 0x2B, 0xA1};
constexpr uint8_t kLongStart[4] = {0, 0, 0, 1};
constexpr uint8_t kTrailing = 0x80;
constexpr uint32_t kUserDataUnregistered = 5;

struct SeiMessage {
    uint64_t type;
    const uint8_t* begin;   // first type byte
    const uint8_t* payload;
    uint64_t size;
};

// Reads the SEI messages of an RBSP (after the NAL header). FF runs, types and
// sizes are bounded by the bytes left; a size past the end stops the reading.
template <typename F> void ForEachMessage(const uint8_t* p, uint32_t len, F&& f) {
    uint64_t i = 0;
    while (len - i >= 2) {
        const uint8_t* begin = p + i;
        uint64_t type = 0, size = 0;
        while (i < len && p[i] == 0xFF)
            type += 255, ++i;
        if (i >= len)
            return;
        type += p[i++];
        while (i < len && p[i] == 0xFF)
            size += 255, ++i;
        if (i >= len)
            return;
        size += p[i++];
        if (size > len - i)
            return;
        f(SeiMessage{type, begin, p + i, size});
        i += size;
    }
}

bool IsOurs(const SeiMessage& m) {
    // Shorter than the UUID: never ours (size - 16 would wrap).
    return m.type == kUserDataUnregistered && m.size >= 16 &&
           std::memcmp(m.payload, kUuid, 16) == 0;
}

// Worst case of AddEscape on n bytes.
uint64_t EscapedBound(uint64_t n) { return n + n / 2 + 1; }

} // namespace

int CParserBase::ArrangeUserData(const uint8_t* user, uint32_t userLen) {
    if (userLen > kMaxUserData)
        return -1;
    const uint64_t n = uint64_t(userLen) + 16;
    const uint64_t need = 1 + n / 255 + 1 + 16 + EscapedBound(userLen);
    if (!seiMessage_.reserve(need))
        return -1;
    uint8_t* out = seiMessage_.data;
    uint32_t len = 0;
    out[len++] = kUserDataUnregistered;
    for (uint64_t k = 0; k < n / 255; ++k)
        out[len++] = 0xFF;
    out[len++] = static_cast<uint8_t>(n % 255);
    std::memcpy(out + len, kUuid, 16);
    len += 16;
    if (userLen)
        AddEscape(user, userLen, out, &len);
    seiMessage_.length = len;
    return 0;
}

int64_t CParserBase::AddUserDataFor(const SeiCodec& codec, const uint8_t* frame, uint32_t frameLen,
                                    const uint8_t* user, uint32_t userLen, const uint8_t** out,
                                    uint32_t* outLen) {
    if (ArrangeUserData(user, userLen) != 0)
        return -1;
    const uint64_t need = uint64_t(frameLen) + seiMessage_.length + codec.headerLen + 5;
    if (!userDataOut_.reserve(need))
        return -1;
    ByteBuffer& o = userDataOut_;
    o.length = 0;
    bool placed = false;
    bool ok = true;
    NalWalker walk;
    walk.SetData(frame, frameLen);
    NalUnit nal;
    while (ok && walk.Next(&nal) == 1) {
        if (nal.payloadLength() < codec.headerLen) {
            ok = o.append(nal.data, nal.length);
            continue;
        }
        const uint32_t type = codec.nalType(nal.payload());
        if (type == codec.seiType) {
            // Rewritten up to its last 80 (the RBSP trailing bits); bytes after it go.
            const uint8_t* body = nal.payload() + codec.headerLen;
            const uint8_t* p = nal.data + nal.length;
            while (p > body && p[-1] != kTrailing)
                --p;
            if (p == body)
                return -1;
            --p; // the 80 itself
            ok = o.append(nal.data, static_cast<uint32_t>(p - nal.data));
            if (ok && !placed) {
                ok = o.append(seiMessage_.data, seiMessage_.length);
                placed = true;
            }
            ok = ok && o.append(&kTrailing, 1);
            continue;
        }
        if (!placed && codec.isVcl(type)) {
            ok = o.append(kLongStart, 4) && o.append(codec.header, codec.headerLen) &&
                 o.append(seiMessage_.data, seiMessage_.length) && o.append(&kTrailing, 1);
            placed = true;
        }
        ok = ok && o.append(nal.data, nal.length);
    }
    if (!ok)
        return -1;
    *out = o.data;
    *outLen = o.length;
    return placed ? 0 : -1;
}

int64_t CParserBase::GetUserDataFor(const SeiCodec& codec, const uint8_t* frame, uint32_t len,
                                    const uint8_t** out, uint32_t* outLen) {
    *out = nullptr;
    *outLen = 0;
    NalWalker walk;
    walk.SetData(frame, len);
    NalUnit nal;
    int w = 0;
    bool found = false;
    uint32_t foundLen = 0;
    bool ok = true;
    while (ok && (w = walk.Next(&nal)) == 1) {
        if (nal.payloadLength() <= codec.headerLen || codec.nalType(nal.payload()) != codec.seiType)
            continue;
        const uint8_t* rbsp;
        uint32_t rbspLen;
        if (GetRbspData(nal.payload(), nal.payloadLength(), &rbsp, &rbspLen) != 0)
            return -1;
        ForEachMessage(rbsp + codec.headerLen, rbspLen - codec.headerLen, [&](const SeiMessage& m) {
            if (!ok || !IsOurs(m))
                return;
            const uint32_t n = static_cast<uint32_t>(m.size - 16);
            ok = userDataOut_.reserve(n);
            if (!ok)
                return;
            if (n)
                std::memcpy(userDataOut_.data, m.payload + 16, n);
            found = true;
            foundLen = n;
        });
    }
    if (!ok)
        return -1;
    if (found) {
        userDataOut_.length = foundLen;
        *out = userDataOut_.data;
        *outLen = foundLen;
    }
    return w < 0 ? -1 : 0;
}

int64_t CParserBase::RemoveUserDataFor(const SeiCodec& codec, const uint8_t* frame, uint32_t len,
                                       const uint8_t** out, uint32_t* outLen) {
    ByteBuffer& o = removalOut_;
    o.length = 0;
    NalWalker walk;
    walk.SetData(frame, len);
    NalUnit nal;
    int w = 0;
    int64_t result = 0;
    bool ok = true;
    while (ok && (w = walk.Next(&nal)) == 1) {
        if (nal.payloadLength() < codec.headerLen)
            continue; // no complete header: dropped
        if (codec.nalType(nal.payload()) != codec.seiType) {
            ok = o.append(nal.data, nal.length);
            continue;
        }
        const uint8_t* rbsp;
        uint32_t rbspLen;
        if (GetRbspData(nal.payload(), nal.payloadLength(), &rbsp, &rbspLen) != 0)
            return -1;
        keptSei_.length = 0;
        ForEachMessage(rbsp + codec.headerLen, rbspLen - codec.headerLen, [&](const SeiMessage& m) {
            if (ok && m.type != kUserDataUnregistered)
                ok = keptSei_.append(m.begin,
                                     static_cast<uint32_t>(m.payload + m.size - m.begin));
        });
        if (!ok || keptSei_.length == 0)
            continue;
        if (!escapedSei_.reserve(EscapedBound(keptSei_.length))) {
            result = -1;
            ok = false;
            break;
        }
        escapedSei_.length = 0;
        AddEscape(keptSei_.data, keptSei_.length, escapedSei_.data, &escapedSei_.length);
        ok = o.append(kLongStart, 4) && o.append(codec.header, codec.headerLen) &&
             o.append(escapedSei_.data, escapedSei_.length) && o.append(&kTrailing, 1);
    }
    if (!ok)
        result = -1;
    else if (w < 0)
        result = -1;
    *out = o.data;
    *outLen = o.length;
    return result;
}

} // namespace videoparse
