#include <gtest/gtest.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "common/helpers.h"
#include "common/ndi_config.h"
#include "testsupport/sandbox.h"

namespace {

const std::string kTail =
    ",\"metadata\":\"Tarnvik Is so Cool\",\"vendor\":{\"name\":\"Tarn-Vik\","
    "\"id\":\"Q7mLpX2vR9tKc4WzN8hJf3YsD6uB1eGa5oTnV0xHqEw=\"}}}";
const std::string kPublic = "\"groups\":{\"send\": \"Public\",\"recv\": \"Public\"}";

struct ConfigCase {
    const char* name;
    const char* rx;        // null: file missing
    const char* find;      // null: file missing
    const char* extraIPs;  // null: file missing
    const char* groups;    // null: file missing
    std::string expected;
};

const ConfigCase kCases[] = {
    {"all empty", "{}", "{}", nullptr, nullptr, "{\"ndi\":{" + kPublic + kTail},
    {"RUDP", R"({"rxpm":"RUDP"})", "{}", nullptr, nullptr,
     "{\"ndi\":{\"rudp\":{\"send\":{\"enable\":true},\"recv\":{\"enable\":true}}," + kPublic + kTail},
    {"TCP", R"({"rxpm":"TCP"})", "{}", nullptr, nullptr,
     "{\"ndi\":{\"tcp\":{\"send\":{\"enable\":true},\"recv\":{\"enable\":true}}," + kPublic + kTail},
    {"UNICAST", R"({"rxpm":"UNICAST"})", "{}", nullptr, nullptr,
     "{\"ndi\":{\"unicast\":{\"send\":{\"enable\":true},\"recv\":{\"enable\":true}}," + kPublic + kTail},
    {"Multicast", R"({"rxpm":"Multicast"})", "{}", nullptr, nullptr,
     "{\"ndi\":{\"multicast\":{\"send\":{\"ttl\":1,\"enable\":true,\"netmask\":\"255.255.0.0\","
     "\"netprefix\":\"239.255.0.0\"},\"recv\":{\"enable\":true}}," + kPublic + kTail},
    {"lower-case rudp is no transport", R"({"rxpm":"rudp"})", "{}", nullptr, nullptr, "{\"ndi\":{" + kPublic + kTail},
    {"dash", R"({"rxpm":"-"})", "{}", nullptr, nullptr, "{\"ndi\":{" + kPublic + kTail},
    {"discovery with address", "{}", R"({"ndidisserv":"ndidisservon","ndidisservip":"10.1.2.3"})",
     "[ \"192.168.1.5\",\n \"192.168.1.6\" ]\n", nullptr,
     "{\"ndi\":{\"networks\":{\"ips\": \"[192.168.1.5,192.168.1.6]\",\"discovery\": \"10.1.2.3\"}," + kPublic + kTail},
    {"discovery without address", "{}", R"({"ndidisserv":"ndidisservon"})", nullptr, nullptr,
     "{\"ndi\":{\"networks\":{\"ips\": \"\",\"discovery\": \"-\"}," + kPublic + kTail},
    {"discovery off", "{}", R"({"ndidisserv":"off","ndidisservip":"10.1.2.3"})", "1.2.3.4", nullptr,
     "{\"ndi\":{" + kPublic + kTail},
    {"groups over lines", "{}", "{}", nullptr, "\"Studio\n A\",\n\"B\"\n",
     "{\"ndi\":{\"groups\":{\"send\": \"StudioA,B\",\"recv\": \"StudioA,B\"}" + kTail},
    {"missing settings files", nullptr, nullptr, nullptr, nullptr, "{\"ndi\":{" + kPublic + kTail},
    {"invalid JSON and wrong types", "{not json", R"({"ndidisserv":7})", nullptr, nullptr,
     "{\"ndi\":{" + kPublic + kTail},
    {"rxpm of wrong type", R"({"rxpm":["RUDP"]})", "[]", nullptr, nullptr, "{\"ndi\":{" + kPublic + kTail},
    {"backslash and tab escaped", "{}", "{}", nullptr, "a\\b\tc",
     "{\"ndi\":{\"groups\":{\"send\": \"a\\\\b\\tc\",\"recv\": \"a\\\\b\\tc\"}" + kTail},
    {"empty settings files", "", "", "", "", "{\"ndi\":{" + kPublic + kTail},
    {"discovery address with quote and backslash", "{}",
     R"({"ndidisserv":"ndidisservon","ndidisservip":"10.0.0.1\"x\\y"})", nullptr, nullptr,
     "{\"ndi\":{\"networks\":{\"ips\": \"\",\"discovery\": \"10.0.0.1\\\"x\\\\y\"}," + kPublic + kTail},
    {"group file with CRLF", "{}", "{}", nullptr, "\"Cams\"\r\n",
     "{\"ndi\":{\"groups\":{\"send\": \"Cams\\r\",\"recv\": \"Cams\\r\"}" + kTail},
};

TEST(NdiRxSettings, BuildsTheConfigurationText)
{
    for (const auto& c : kCases) {
        testsupport::Sandbox box;
        auto put = [&](const char* file, const char* content) {
            if (content)
                box.writeFile(file, content);
        };
        put("/etc/tarnvik-ndinet-rx-settings.json", c.rx);
        put("/etc/tarnvik-ndinet-find-settings.json", c.find);
        put("/etc/tarnvik-ndi-config.json", c.extraIPs);
        put("/etc/tarnvik-ndi-group.json", c.groups);
        std::string text = getNDIRxSettings();
        EXPECT_EQ(text, c.expected) << c.name;
        EXPECT_FALSE(nlohmann::json::parse(text, nullptr, false).is_discarded()) << c.name << ": " << text;
    }
}

TEST(NdiRxSettings, SampleResultWithEmptyObjects)
{
    testsupport::Sandbox box;
    box.writeFile("/etc/tarnvik-ndinet-rx-settings.json", "{}");
    box.writeFile("/etc/tarnvik-ndinet-find-settings.json", "{}");
    EXPECT_EQ(getNDIRxSettings(),
              R"({"ndi":{"groups":{"send": "Public","recv": "Public"},"metadata":"Tarnvik Is so Cool",)"
              R"("vendor":{"name":"Tarn-Vik","id":"Q7mLpX2vR9tKc4WzN8hJf3YsD6uB1eGa5oTnV0xHqEw="}}})");
}

// A settings file that cannot be used, or a key of the wrong type, is one log line each.
TEST(NdiRxSettings, UnusableSettingsAreLoggedOnce)
{
    struct Case {
        const char* rx;  // null: file missing
        const char* named;
    } cases[] = {
        {nullptr, "tarnvik-ndinet-rx-settings.json"},
        {"", "tarnvik-ndinet-rx-settings.json"},
        {"{\"rxpm\":", "tarnvik-ndinet-rx-settings.json"},
        {"[\"RUDP\"]", "tarnvik-ndinet-rx-settings.json"},
        {"{\"rxpm\":5}", "rxpm"},
    };
    for (const auto& c : cases) {
        testsupport::Sandbox box;
        box.writeFile("/etc/tarnvik-ndinet-find-settings.json", "{}");
        if (c.rx)
            box.writeFile("/etc/tarnvik-ndinet-rx-settings.json", c.rx);
        isDebug = true;
        testing::internal::CaptureStdout();
        const std::string text = getNDIRxSettings();
        const std::string log = testing::internal::GetCapturedStdout();
        isDebug = false;
        EXPECT_EQ(text, "{\"ndi\":{" + kPublic + kTail) << log;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
        EXPECT_NE(log.find(c.named), std::string::npos) << log;
    }
}

TEST(NdiRxSettings, KeepsNonEmptyFinderTexts)
{
    testsupport::Sandbox box;
    strFindExtraIPs = "old-ips";
    strFindGroups = "old-groups";
    getNDIRxSettings();
    EXPECT_EQ(strFindExtraIPs, "old-ips");
    EXPECT_EQ(strFindGroups, "old-groups");
    box.writeFile("/etc/tarnvik-ndi-config.json", "10.0.0.9, 10.0.0.10");
    box.writeFile("/etc/tarnvik-ndi-group.json", "\"Cams\"");
    getNDIRxSettings();
    EXPECT_EQ(strFindExtraIPs, "10.0.0.9,10.0.0.10");
    EXPECT_EQ(strFindGroups, "Cams");
}

TEST(JsonEscape, LeavesOrdinaryTextAlone)
{
    EXPECT_EQ(jsonEscape("MACHINE (Stream) 1.2.3.4:5961"), "MACHINE (Stream) 1.2.3.4:5961");
    EXPECT_EQ(jsonEscape("a\"b\\c\n\x01"), "a\\\"b\\\\c\\n\\u0001");
    EXPECT_EQ(jsonEscape("Zürich"), "Zürich");
}

} // namespace
