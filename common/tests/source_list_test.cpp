#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/source_list.h"
#include "testsupport/process.h"
#include "testsupport/sandbox.h"

namespace {

using Names = std::vector<std::string>;

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
    ASSERT_TRUE(writeSourceListFiles(kHostileNames, kHostileAddresses));
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
    ASSERT_TRUE(writeSourceListFiles(kHostileNames, kHostileAddresses));
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

    ASSERT_TRUE(writeSourceListFiles({"A"}, {"10.0.0.2:5961"}));
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
    EXPECT_FALSE(writeSourceListFiles({"A"}, {"10.0.0.2:5961"}));
    EXPECT_EQ(box.readFile(kJsonFile), "{\n\"A\": \"10.0.0.2:5961\"\n}");
    EXPECT_FALSE(box.exists("/srv/tarnvik-web-ui-resources"));
}

} // namespace
