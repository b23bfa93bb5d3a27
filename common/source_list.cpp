#include "common/source_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/fixed_path.h"
#include "common/helpers.h"
#include "common/ndi_config.h"

namespace {

constexpr const char* kSeparator = "$#!T";

// A shorter list of addresses than names (or the other way round) never indexes past its end.
size_t sourceCount(const std::vector<std::string>& names, const std::vector<std::string>& addresses)
{
    return std::min(names.size(), addresses.size());
}

bool writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
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

// Temporary file in the same directory, then rename over the old one.
bool replaceFileAtomically(const std::string& path, const std::string& text)
{
    std::string temporary = path + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        DebugLog("[Info] Cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    // Read by the web server as well, so not mkstemp's owner-only mode.
    bool ok = ::fchmod(fd, 0644) == 0 && writeAll(fd, text);
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        DebugLog("[Info] Cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        ::unlink(temporary.c_str());
    }
    return ok;
}

} // namespace

std::string formatSourceListJson(const std::vector<std::string>& names, const std::vector<std::string>& addresses)
{
    const size_t count = sourceCount(names, addresses);
    std::string text = "{\n";
    for (size_t i = 0; i < count; ++i) {
        text += "\"" + jsonEscape(names[i]) + "\": \"" + jsonEscape(addresses[i]) + "\"";
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
        const std::string name = scriptStringEscape(names[i]);
        text += "{ID:'" + name + kSeparator + scriptStringEscape(addresses[i]) + "',Decoder:'" + name + "'},";
    }
    text += "];";
    return text;
}

bool writeSourceListFiles(const std::vector<std::string>& names, const std::vector<std::string>& addresses)
{
    const bool page = replaceFileAtomically(tarnvik::fixedPath("/srv/tarnvik-web-ui-resources/decoder-src.html"),
                                            formatSourceListScript(names, addresses));
    const bool json = replaceFileAtomically(tarnvik::fixedPath("/etc/tarnvik_ndi_src.json"),
                                            formatSourceListJson(names, addresses));
    return page && json;
}
