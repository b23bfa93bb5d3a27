#include "common/ndi_config.h"

#include <algorithm>
#include <cstdio>

#include "common/fixed_path.h"
#include "common/helpers.h"

std::string strFindExtraIPs;
std::string strFindGroups;

nlohmann::json readSettingsObject(const std::string& path)
{
    // No exceptions: an unusable settings file must not end the program, its keys take their defaults.
    nlohmann::json settings = nlohmann::json::parse(getFileString(path.c_str()), nullptr, false);
    if (settings.is_discarded() || !settings.is_object()) {
        DebugLog("[Info] %s is missing or not a JSON object, using defaults\n", path.c_str());
        return nlohmann::json::object();
    }
    return settings;
}

std::string settingsString(const nlohmann::json& settings, const char* key, const std::string& fallback)
{
    auto it = settings.find(key);
    if (it == settings.end())
        return fallback;
    if (!it->is_string()) {
        DebugLog("[Info] \"%s\" is not a string, using \"%s\"\n", key, fallback.c_str());
        return fallback;
    }
    return it->get<std::string>();
}

std::string jsonEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char code[8];
                std::snprintf(code, sizeof code, "\\u%04x", c);
                out += code;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

namespace {

// Blanks, newlines and double quotes go, anything else stays (brackets, commas).
std::string cleanRawText(std::string text)
{
    for (char gone : {' ', '\n', '"'})
        text.erase(std::remove(text.begin(), text.end(), gone), text.end());
    return text;
}

} // namespace

std::string getNDIRxSettings()
{
    const nlohmann::json rx = readSettingsObject(tarnvik::fixedPath("/etc/tarnvik-ndinet-rx-settings.json"));
    const std::string extraIPs = cleanRawText(getFileString(tarnvik::fixedPath("/etc/tarnvik-ndi-config.json").c_str()));
    const std::string groups = cleanRawText(getFileString(tarnvik::fixedPath("/etc/tarnvik-ndi-group.json").c_str()));
    const std::string transport = settingsString(rx, "rxpm", "-");

    std::string text = "{\"ndi\":{";
    const char* sendRecv = "\"send\":{\"enable\":true},\"recv\":{\"enable\":true}},";
    if (transport == "RUDP") {
        text += "\"rudp\":{";
        text += sendRecv;
    } else if (transport == "Multicast") {
        text += "\"multicast\":{\"send\":{\"ttl\":1,\"enable\":true,\"netmask\":\"255.255.0.0\","
                "\"netprefix\":\"239.255.0.0\"},\"recv\":{\"enable\":true}},";
    } else if (transport == "TCP") {
        text += "\"tcp\":{";
        text += sendRecv;
    } else if (transport == "UNICAST") {
        text += "\"unicast\":{";
        text += sendRecv;
    }

    // Inserted values are escaped: a backslash or control character would otherwise break the JSON.
    const nlohmann::json find = readSettingsObject(tarnvik::fixedPath("/etc/tarnvik-ndinet-find-settings.json"));
    if (settingsString(find, "ndidisserv", "-") == "ndidisservon") {
        text += "\"networks\":{\"ips\": \"" + jsonEscape(extraIPs) + "\",\"discovery\": \"" +
                jsonEscape(settingsString(find, "ndidisservip", "-")) + "\"},";
    }

    if (!groups.empty()) {
        const std::string escaped = jsonEscape(groups);
        text += "\"groups\":{\"send\": \"" + escaped + "\",\"recv\": \"" + escaped + "\"}";
    } else {
        text += "\"groups\":{\"send\": \"Public\",\"recv\": \"Public\"}";
    }

    text += ",\"metadata\":\"Tarnvik Is so Cool\","
            "\"vendor\":{\"name\":\"Tarn-Vik\",\"id\":\"Q7mLpX2vR9tKc4WzN8hJf3YsD6uB1eGa5oTnV0xHqEw=\"}}}";

    if (!extraIPs.empty())
        strFindExtraIPs = extraIPs;
    if (!groups.empty())
        strFindGroups = groups;
    return text;
}
