#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/helpers.h"
#include "common/source_list.h"
#include "testsupport/process.h"
#include "testsupport/sandbox.h"

namespace {

using Names = std::vector<std::string>;

// The finder's records for the names and addresses, written by the one writer.
bool writeLists(const Names& names, const Names& addresses)
{
    std::vector<NDIlib_source_t> sources(std::min(names.size(), addresses.size()));
    for (size_t i = 0; i < sources.size(); ++i) {
        sources[i].p_ndi_name = names[i].c_str();
        sources[i].p_url_address = addresses[i].c_str();
    }
    return writeSourceListFiles(sources.data(), static_cast<uint32_t>(sources.size()));
}

const char* kJsonFile = "/etc/tarnvik_ndi_src.json";
const char* kPageFile = "/srv/tarnvik-web-ui-resources/decoder-src.html";

struct FormatCase {
    Names names;
    Names addresses;
    const char* json;
    const char* page;
};

TEST(SourceList, FormatsBothFiles)
{
    const FormatCase cases[] = {
        {{"A", "B"}, {"10.0.0.2:5961", "10.0.0.3:5961"},
         "{\n\"A\": \"10.0.0.2:5961\",\n\"B\": \"10.0.0.3:5961\"\n}",
         "var DecoderSrc = [{ID:'A$#!T10.0.0.2:5961',Decoder:'A'},{ID:'B$#!T10.0.0.3:5961',Decoder:'B'},];"},
        {{"STUDIO-PC (Camera 1)"}, {"192.168.1.20:5961"},
         "{\n\"STUDIO-PC (Camera 1)\": \"192.168.1.20:5961\"\n}",
         "var DecoderSrc = [{ID:'STUDIO-PC (Camera 1)$#!T192.168.1.20:5961',Decoder:'STUDIO-PC (Camera 1)'},];"},
        {{}, {}, "{\n}", "var DecoderSrc = [];"},
        // A list shorter on one side stops at the shorter one.
        {{"A", "B"}, {"10.0.0.2:5961"}, "{\n\"A\": \"10.0.0.2:5961\"\n}",
         "var DecoderSrc = [{ID:'A$#!T10.0.0.2:5961',Decoder:'A'},];"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatSourceListJson(c.names, c.addresses), c.json);
        EXPECT_EQ(formatSourceListScript(c.names, c.addresses), c.page);
    }
}

const Names kHostileNames = {
    "Q\"uote (it's </script><script>alert(1)</script>)",
    "back\\slash\nnew line\r\ttab \x01 \xe2\x80\xa8 sep \xe2\x80\xa9 end",
    "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac ${x} `tick` -->",
};
const Names kHostileAddresses = {"10.0.0.2:5961", "'; alert(2); '", "\"}, \"x\": \""};

TEST(SourceList, HostileNamesRoundTripThroughJsonParser)
{
    testsupport::Sandbox box;
    ASSERT_TRUE(writeLists(kHostileNames, kHostileAddresses));
    const nlohmann::json parsed = nlohmann::json::parse(box.readFile(kJsonFile));
    ASSERT_TRUE(parsed.is_object());
    std::map<std::string, std::string> want;
    for (size_t i = 0; i < kHostileNames.size(); ++i)
        want[kHostileNames[i]] = kHostileAddresses[i];
    EXPECT_EQ(parsed.get<decltype(want)>(), want);
}

TEST(SourceList, HostileNamesRoundTripThroughScriptEngine)
{
    testsupport::Sandbox box;
    ASSERT_TRUE(writeLists(kHostileNames, kHostileAddresses));
    const std::string page = box.readFile(kPageFile);
    EXPECT_EQ(page.find("</"), std::string::npos) << "a name could close the page's script element";

    // Runs the page in a fresh context and prints what it declared, as JSON.
    const std::string script =
        "const fs = require('fs'); const vm = require('vm');"
        "const ctx = {}; vm.runInNewContext(fs.readFileSync(process.argv[1], 'utf8') + ';this.out = DecoderSrc;', ctx);"
        "process.stdout.write(JSON.stringify(ctx.out));";
    const auto result = testsupport::runProcess({"node", "-e", script, box.path(kPageFile)});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const nlohmann::json entries = nlohmann::json::parse(result.out);
    ASSERT_EQ(entries.size(), kHostileNames.size());
    for (size_t i = 0; i < kHostileNames.size(); ++i) {
        EXPECT_EQ(entries[i]["ID"].get<std::string>(), kHostileNames[i] + "$#!T" + kHostileAddresses[i]);
        EXPECT_EQ(entries[i]["Decoder"].get<std::string>(), kHostileNames[i]);
    }
}

TEST(SourceList, ReplacesFilesByRename)
{
    testsupport::Sandbox box;
    box.writeFile(kJsonFile, "old json");
    box.writeFile(kPageFile, "old page");
    // A reader that opened the old files keeps reading the old text whole.
    ASSERT_EQ(::link(box.path(kJsonFile).c_str(), (box.path(kJsonFile) + ".reader").c_str()), 0);
    ASSERT_EQ(::link(box.path(kPageFile).c_str(), (box.path(kPageFile) + ".reader").c_str()), 0);

    ASSERT_TRUE(writeLists({"A"}, {"10.0.0.2:5961"}));
    EXPECT_EQ(box.readFile(kJsonFile), "{\n\"A\": \"10.0.0.2:5961\"\n}");
    EXPECT_EQ(box.readFile(kPageFile), "var DecoderSrc = [{ID:'A$#!T10.0.0.2:5961',Decoder:'A'},];");
    EXPECT_EQ(box.readFile(std::string(kJsonFile) + ".reader"), "old json");
    EXPECT_EQ(box.readFile(std::string(kPageFile) + ".reader"), "old page");

    for (const char* file : {kJsonFile, kPageFile}) {
        struct stat info {};
        ASSERT_EQ(::stat(box.path(file).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0644u) << file;
        // Nothing but the file and the test's second link is left in its directory.
        const auto dir = std::filesystem::path(box.path(file)).parent_path();
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.path().filename().string().rfind(std::filesystem::path(file).filename().string(), 0) == 0)
                left.push_back(entry.path().filename().string());
        EXPECT_EQ(left.size(), 2u) << file;
    }
}

TEST(SourceList, OneUnwritableFileDoesNotStopTheOther)
{
    testsupport::Sandbox box;
    std::filesystem::remove_all(box.path("/srv/tarnvik-web-ui-resources"));
    EXPECT_FALSE(writeLists({"A"}, {"10.0.0.2:5961"}));
    EXPECT_EQ(box.readFile(kJsonFile), "{\n\"A\": \"10.0.0.2:5961\"\n}");
    EXPECT_FALSE(box.exists("/srv/tarnvik-web-ui-resources"));
}

TEST(SourceList, LogsEachSourceAndTakesNullTextsAsEmpty)
{
    testsupport::Sandbox box;
    const NDIlib_source_t sources[] = {{"A", "10.0.0.2:5961"}, {nullptr, "10.0.0.3:5961"}, {"C", nullptr}};
    struct LogCase {
        bool debug;
        const char* out;
    };
    const LogCase cases[] = {
        {true, "1. A:10.0.0.2:5961\n2. :10.0.0.3:5961\n3. C:\n"},
        {false, ""},
    };
    for (const auto& c : cases) {
        isDebug = c.debug;
        testing::internal::CaptureStdout();
        EXPECT_TRUE(writeSourceListFiles(sources, 3));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        isDebug = false;
        EXPECT_EQ(box.readFile(kJsonFile), "{\n\"A\": \"10.0.0.2:5961\",\n\"\": \"10.0.0.3:5961\",\n\"C\": \"\"\n}");
    }
    ASSERT_TRUE(writeSourceListFiles(nullptr, 5));
    EXPECT_EQ(box.readFile(kJsonFile), "{\n}");
    EXPECT_EQ(box.readFile(kPageFile), "var DecoderSrc = [];");
}

TEST(SourceList, KeepsLinkedFilesLinks)
{
    testsupport::Sandbox box;
    box.writeFile("/opt/lists/ndi_src.json", "old json");
    box.writeFile("/opt/lists/decoder-src.html", "old page");
    for (const auto& [file, target] : {std::pair{kJsonFile, "/opt/lists/ndi_src.json"},
                                       std::pair{kPageFile, "/opt/lists/decoder-src.html"}}) {
        std::filesystem::remove(box.path(file));
        std::filesystem::create_symlink(box.path(target), box.path(file));
    }
    ASSERT_TRUE(writeLists({"A"}, {"10.0.0.2:5961"}));
    EXPECT_TRUE(std::filesystem::is_symlink(box.path(kJsonFile)));
    EXPECT_TRUE(std::filesystem::is_symlink(box.path(kPageFile)));
    EXPECT_EQ(box.readFile("/opt/lists/ndi_src.json"), "{\n\"A\": \"10.0.0.2:5961\"\n}");
    EXPECT_EQ(box.readFile("/opt/lists/decoder-src.html"), "var DecoderSrc = [{ID:'A$#!T10.0.0.2:5961',Decoder:'A'},];");
}

// Names as they may come from the network: valid ones (kept byte for byte) beside every
// kind of ill-formed UTF-8.
const Names kRawNames = {
    "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\xa5 (Cam 1)",  // valid
    "Latin-1 caf\xe9",                  // lone high byte
    "cut \xe2\x82",                     // truncated at the end
    "cut \xe2\x82 mid",                 // truncated inside
    "surrogate \xed\xa0\x80",          // UTF-16 surrogate
    "overlong \xc0\xaf \xe0\x80\xaf", // overlong forms
    "beyond \xf4\x90\x80\x80",        // above U+10FFFF
    "four \xf0\x9f\x98 x",              // 3 of 4 bytes
    "bytes \xff\xfe\x80\xbf",          // never valid
};

std::string hex(const std::string& bytes)
{
    std::string out;
    char two[3];
    for (unsigned char c : bytes) {
        std::snprintf(two, sizeof two, "%02x", c);
        out += two;
    }
    return out;
}

TEST(SourceList, NamesThatAreNotUtf8ReadBackAsBrowsersDecodeThem)
{
    testsupport::Sandbox box;
    Names addresses;
    for (size_t i = 0; i < kRawNames.size(); ++i)
        addresses.push_back("10.0.0." + std::to_string(i + 2) + ":5961");
    addresses[1] = "10.0.0.3:59\xe9" "1";
    ASSERT_TRUE(writeLists(kRawNames, addresses));

    // The JavaScript engine, strict: a fatal UTF-8 decoder reads both files, JSON.parse the
    // list, the page runs; the expected texts are the WHATWG decoder's reading of the raw
    // bytes.
    const std::string script =
        "const fs = require('fs'); const vm = require('vm');"
        "const strict = new TextDecoder('utf-8', {fatal: true}); const lax = new TextDecoder('utf-8');"
        "const list = JSON.parse(strict.decode(fs.readFileSync(process.argv[1])));"
        "const ctx = {}; vm.runInNewContext(strict.decode(fs.readFileSync(process.argv[2])) + ';this.out = DecoderSrc;', ctx);"
        "const raw = (h) => lax.decode(Buffer.from(h, 'hex'));"
        "const names = JSON.parse(process.argv[3]).map(raw), addresses = JSON.parse(process.argv[4]).map(raw);"
        "process.stdout.write(JSON.stringify({names, addresses, keys: Object.keys(list), values: Object.values(list),"
        " page: ctx.out}));";
    nlohmann::json rawNames = nlohmann::json::array(), rawAddresses = nlohmann::json::array();
    for (size_t i = 0; i < kRawNames.size(); ++i) {
        rawNames.push_back(hex(kRawNames[i]));
        rawAddresses.push_back(hex(addresses[i]));
    }
    const auto result = testsupport::runProcess(
        {"node", "-e", script, box.path(kJsonFile), box.path(kPageFile), rawNames.dump(), rawAddresses.dump()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const nlohmann::json read = nlohmann::json::parse(result.out);
    EXPECT_EQ(read["keys"], read["names"]);
    EXPECT_EQ(read["values"], read["addresses"]);
    ASSERT_EQ(read["page"].size(), kRawNames.size());
    for (size_t i = 0; i < kRawNames.size(); ++i) {
        EXPECT_EQ(read["page"][i]["Decoder"], read["names"][i]);
        EXPECT_EQ(read["page"][i]["ID"].get<std::string>(),
                  read["names"][i].get<std::string>() + "$#!T" + read["addresses"][i].get<std::string>());
    }
    // Each ill-formed piece became U+FFFD, nothing else changed.
    EXPECT_EQ(read["names"][1], "Latin-1 caf\xef\xbf\xbd");
    EXPECT_EQ(read["names"][6], "beyond \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");

    // A second strict reader, and the valid name's bytes exact in both files.
    const nlohmann::json parsed = nlohmann::json::parse(box.readFile(kJsonFile));
    EXPECT_EQ(parsed.size(), kRawNames.size());
    EXPECT_EQ(parsed.at(kRawNames[0]), addresses[0]);
    EXPECT_NE(box.readFile(kJsonFile).find("\"" + kRawNames[0] + "\""), std::string::npos);
    EXPECT_NE(box.readFile(kPageFile).find("Decoder:'" + kRawNames[0] + "'"), std::string::npos);
}

} // namespace
