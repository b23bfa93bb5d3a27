#include "common/source_list.h"

#include <algorithm>
#include <cstdio>

#include "common/fixed_path.h"
#include "common/helpers.h"
#include "common/ndi_config.h"
#include "common/shared_file.h"

namespace {

constexpr const char* kSeparator = "$#!T";

// A shorter list of addresses than names (or the other way round) never indexes past its end.
size_t sourceCount(const std::vector<std::string>& names, const std::vector<std::string>& addresses)
{
    return std::min(names.size(), addresses.size());
}

// Escapes text for the inside of a single-quoted script string.
std::string scriptStringEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\'': out += "\\'"; break;
        case '<': out += "\\x3C"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char code[8];
                std::snprintf(code, sizeof code, "\\x%02X", c);
                out += code;
            } else if (c == 0xe2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                       (static_cast<unsigned char>(text[i + 2]) == 0xa8 ||
                        static_cast<unsigned char>(text[i + 2]) == 0xa9)) {
                // U+2028 and U+2029 end a line in older script engines.
                out += static_cast<unsigned char>(text[i + 2]) == 0xa8 ? "\\u2028" : "\\u2029";
                i += 2;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

} // namespace

std::string validUtf8(const std::string& text)
{
    static const char kReplacement[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++i;
            continue;
        }
        size_t need = 0;
        unsigned char low = 0x80, high = 0xBF;  // range of the first continuation byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        }
        size_t taken = 1;
        while (need > 0 && taken <= need && i + taken < text.size()) {
            const unsigned char c = static_cast<unsigned char>(text[i + taken]);
            if (c < low || c > high)
                break;
            low = 0x80;
            high = 0xBF;
            ++taken;
        }
        if (need > 0 && taken == need + 1)
            out.append(text, i, taken);
        else
            out += kReplacement;
        i += taken;
    }
    return out;
}

std::string formatSourceListJson(const std::vector<std::string>& names, const std::vector<std::string>& addresses)
{
    const size_t count = sourceCount(names, addresses);
    std::string text = "{\n";
    for (size_t i = 0; i < count; ++i) {
        text += "\"" + jsonEscape(validUtf8(names[i])) + "\": \"" + jsonEscape(validUtf8(addresses[i])) + "\"";
        text += i + 1 < count ? ",\n" : "\n";
    }
    text += "}";
    return text;
}

std::string formatSourceListScript(const std::vector<std::string>& names, const std::vector<std::string>& addresses)
{
    const size_t count = sourceCount(names, addresses);
    std::string text = "var DecoderSrc = [";
    for (size_t i = 0; i < count; ++i) {
        const std::string name = scriptStringEscape(validUtf8(names[i]));
        text += "{ID:'" + name + kSeparator + scriptStringEscape(validUtf8(addresses[i])) + "',Decoder:'" + name + "'},";
    }
    text += "];";
    return text;
}

bool writeSourceListFiles(const NDIlib_source_t* sources, uint32_t count)
{
    std::vector<std::string> names;
    std::vector<std::string> addresses;
    for (uint32_t i = 0; sources != nullptr && i < count; ++i) {
        const char* name = sources[i].p_ndi_name != nullptr ? sources[i].p_ndi_name : "";
        const char* address = sources[i].p_url_address != nullptr ? sources[i].p_url_address : "";
        DebugLog("%u. %s:%s\n", i + 1, name, address);
        names.emplace_back(name);
        addresses.emplace_back(address);
    }
    const bool page = writeSharedFile(tarnvik::fixedPath("/srv/tarnvik-web-ui-resources/decoder-src.html"),
                                      formatSourceListScript(names, addresses));
    const bool json = writeSharedFile(tarnvik::fixedPath("/etc/tarnvik_ndi_src.json"),
                                      formatSourceListJson(names, addresses));
    return page && json;
}
