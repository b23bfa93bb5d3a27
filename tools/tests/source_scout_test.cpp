#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "testsupport/process.h"
#include "testsupport/sandbox.h"

namespace {

using namespace std::chrono_literals;

const char* kJsonFile = "/etc/tarnvik_ndi_src.json";
const char* kPageFile = "/srv/tarnvik-web-ui-resources/decoder-src.html";

struct ScoutRun {
    testsupport::ProcessResult result;
    std::chrono::milliseconds took;
    std::vector<std::string> calls;  // the stand-in's call log, one line per call
};

// Runs source-scout once under the sandbox against a stand-in scenario.
ScoutRun scout(const testsupport::Sandbox& box, const nlohmann::json& scenario, bool debug = true)
{
    box.writeFile("/tmp/ndi-scenario.json", scenario.dump());
    testsupport::Environment env = {{"TARNVIK_NDI_SCENARIO", box.path("/tmp/ndi-scenario.json")},
                                    {"TARNVIK_NDI_LOG", box.path("/tmp/ndi-calls.log")}};
    if (debug)
        env.emplace_back("VXR_DEBUG_LEVEL", "1");
    ScoutRun run;
    const auto start = std::chrono::steady_clock::now();
    // The discovery window is 2 s and the last wait may end up to 1 s after it; the limit
    // only keeps a hanging run from holding up the suite.
    run.result = testsupport::runProcess({testsupport::binaryPath("tools/source-scout")}, env, 60s);
    run.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::istringstream log(box.readFile("/tmp/ndi-calls.log"));
    for (std::string line; std::getline(log, line);)
        run.calls.push_back(line);
    box.writeFile("/tmp/ndi-calls.log", "");
    return run;
}

nlohmann::json source(const std::string& name, const std::string& url, int appearMs = 0, int vanishMs = -1)
{
    nlohmann::json s = {{"name", name}, {"url", url}, {"appear_ms", appearMs}};
    if (vanishMs >= 0)
        s["vanish_ms"] = vanishMs;
    return s;
}

size_t countOf(const std::string& text, const std::string& piece)
{
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size()))
        ++count;
    return count;
}

struct ListCase {
    const char* label;
    nlohmann::json sources;
    const char* json;
    const char* page;
};

TEST(SourceScout, WritesTheListItFinds)
{
    const ListCase cases[] = {
        {"two sources",
         {source("A", "10.0.0.2:5961"), source("B", "10.0.0.3:5961")},
         "{\n\"A\": \"10.0.0.2:5961\",\n\"B\": \"10.0.0.3:5961\"\n}",
         "var DecoderSrc = [{ID:'A$#!T10.0.0.2:5961',Decoder:'A'},{ID:'B$#!T10.0.0.3:5961',Decoder:'B'},];"},
        {"one source",
         {source("STUDIO (Cam 1)", "192.168.0.7:5961")},
         "{\n\"STUDIO (Cam 1)\": \"192.168.0.7:5961\"\n}",
         "var DecoderSrc = [{ID:'STUDIO (Cam 1)$#!T192.168.0.7:5961',Decoder:'STUDIO (Cam 1)'},];"},
        // Seen, then gone: the empty forms.
        {"source that vanishes", {source("A", "10.0.0.2:5961", 0, 300)}, "{\n}", "var DecoderSrc = [];"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        testsupport::Sandbox box;
        const ScoutRun run = scout(box, {{"sources", c.sources}});
        EXPECT_EQ(run.result.exitCode, 0) << run.result.err;
        EXPECT_FALSE(run.result.timedOut);
        EXPECT_EQ(box.readFile(kJsonFile), c.json);
        EXPECT_EQ(box.readFile(kPageFile), c.page);
        EXPECT_EQ(run.result.out.rfind("\nDebug level: 1\n", 0), 0u) << run.result.out;
    }
}

TEST(SourceScout, EveryChangeRewritesAndTheLastWins)
{
    testsupport::Sandbox box;
    // A at once, B joins, then A leaves: three lists within the window.
    const ScoutRun run = scout(box, {{"sources", {source("A", "10.0.0.2:5961", 0, 1200), source("B", "10.0.0.3:5961", 600)}}});
    EXPECT_EQ(run.result.exitCode, 0) << run.result.err;
    const std::string& out = run.result.out;
    const size_t first = out.find("Network sources (1 found).\n1. A:10.0.0.2:5961\n");
    const size_t second = out.find("Network sources (2 found).\n1. A:10.0.0.2:5961\n2. B:10.0.0.3:5961\n");
    const size_t third = out.find("Network sources (1 found).\n1. B:10.0.0.3:5961\n");
    ASSERT_NE(first, std::string::npos) << out;
    ASSERT_NE(second, std::string::npos) << out;
    ASSERT_NE(third, std::string::npos) << out;
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    EXPECT_EQ(box.readFile(kJsonFile), "{\n\"B\": \"10.0.0.3:5961\"\n}");
    EXPECT_EQ(box.readFile(kPageFile), "var DecoderSrc = [{ID:'B$#!T10.0.0.3:5961',Decoder:'B'},];");
}

TEST(SourceScout, NoChangeLeavesEarlierFilesAndEndsInTheWindow)
{
    testsupport::Sandbox box;
    box.writeFile(kJsonFile, "{\n\"Earlier\": \"10.0.0.9:5961\"\n}");
    box.writeFile(kPageFile, "var DecoderSrc = [{ID:'Earlier$#!T10.0.0.9:5961',Decoder:'Earlier'},];");
    // A source that would appear only after the window.
    const ScoutRun run = scout(box, {{"sources", {source("Late", "10.0.0.4:5961", 5000)}}});
    EXPECT_EQ(run.result.exitCode, 0) << run.result.err;
    EXPECT_FALSE(run.result.timedOut);
    EXPECT_EQ(box.readFile(kJsonFile), "{\n\"Earlier\": \"10.0.0.9:5961\"\n}");
    EXPECT_EQ(box.readFile(kPageFile), "var DecoderSrc = [{ID:'Earlier$#!T10.0.0.9:5961',Decoder:'Earlier'},];");
    EXPECT_EQ(run.result.out.find("Network sources"), std::string::npos) << run.result.out;
    // Two waits of 1000 ms fill the window; a third would start at or after 2 s. The count
    // of waits, not the wall clock of a possibly loaded machine, shows the run ends there.
    const size_t waits = countOf(run.result.out, "No change to the sources found.\n");
    EXPECT_GE(waits, 2u) << run.result.out;
    EXPECT_LE(waits, 3u) << run.result.out;
    EXPECT_GE(run.took, 2000ms);
    size_t wait_calls = 0;
    for (const auto& line : run.calls)
        if (line.rfind("NDIlib_find_wait_for_sources ", 0) == 0)
            ++wait_calls;
    EXPECT_EQ(wait_calls, waits);
    EXPECT_EQ(run.calls.back().rfind("NDIlib_destroy", 0), 0u);
}

TEST(SourceScout, FinderGetsTheConfigurationAndKeptTexts)
{
    struct Case {
        const char* label;
        const char* groups;  // content of the group file, null: none
        const char* ips;     // content of the extra-address file, null: none
        const char* groupsLogged;
        const char* ipsLogged;
    } cases[] = {
        {"no files", nullptr, nullptr, "groups=null", "extra_ips=null"},
        {"both files", "\"Studio, Hall\"\n", "[\"10.1.0.5\", \"10.1.0.6\"]\n", "groups=\"Studio,Hall\"",
         "extra_ips=\"[10.1.0.5,10.1.0.6]\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        testsupport::Sandbox box;
        if (c.groups != nullptr)
            box.writeFile("/etc/tarnvik-ndi-group.json", c.groups);
        if (c.ips != nullptr)
            box.writeFile("/etc/tarnvik-ndi-config.json", c.ips);
        const ScoutRun run = scout(box, {{"sources", {source("A", "10.0.0.2:5961")}}});
        EXPECT_EQ(run.result.exitCode, 0);
        std::string create;
        for (const auto& line : run.calls)
            if (line.rfind("NDIlib_find_create_v3 ", 0) == 0)
                create = line;
        ASSERT_FALSE(create.empty());
        EXPECT_NE(create.find("show_local_sources=true"), std::string::npos) << create;
        EXPECT_NE(create.find(c.groupsLogged), std::string::npos) << create;
        EXPECT_NE(create.find(c.ipsLogged), std::string::npos) << create;
        // The configuration text handed over is the one logged.
        const size_t logged = run.result.out.find("NDI conf data for find: ");
        ASSERT_NE(logged, std::string::npos);
        const size_t end = run.result.out.find('\n', logged);
        const std::string config = run.result.out.substr(logged + 24, end - logged - 24);
        EXPECT_NE(create.find("config=" + nlohmann::json(config).dump()), std::string::npos) << create;
        EXPECT_EQ(run.calls.back().rfind("NDIlib_destroy", 0), 0u);
    }
}

TEST(SourceScout, HostileNamesRoundTrip)
{
    const std::vector<std::pair<std::string, std::string>> sources = {
        {"EVIL \"quoted\" (it's </script><script>alert(1)</script>)", "10.0.0.2:5961"},
        {"back\\slash 'apos' caf\xc3\xa9", "10.0.0.3:5961"},
    };
    nlohmann::json list = nlohmann::json::array();
    for (const auto& [name, url] : sources)
        list.push_back(source(name, url));
    testsupport::Sandbox box;
    const ScoutRun run = scout(box, {{"sources", list}}, false);
    ASSERT_EQ(run.result.exitCode, 0) << run.result.err;

    const nlohmann::json parsed = nlohmann::json::parse(box.readFile(kJsonFile));
    std::map<std::string, std::string> want(sources.begin(), sources.end());
    EXPECT_EQ(parsed.get<decltype(want)>(), want);

    const std::string script =
        "const fs = require('fs'); const vm = require('vm');"
        "const ctx = {}; vm.runInNewContext(fs.readFileSync(process.argv[1], 'utf8') + ';this.out = DecoderSrc;', ctx);"
        "process.stdout.write(JSON.stringify(ctx.out));";
    const auto node = testsupport::runProcess({"node", "-e", script, box.path(kPageFile)});
    ASSERT_EQ(node.exitCode, 0) << node.err;
    const nlohmann::json entries = nlohmann::json::parse(node.out);
    ASSERT_EQ(entries.size(), sources.size());
    for (size_t i = 0; i < sources.size(); ++i) {
        EXPECT_EQ(entries[i]["Decoder"].get<std::string>(), sources[i].first);
        EXPECT_EQ(entries[i]["ID"].get<std::string>(), sources[i].first + "$#!T" + sources[i].second);
    }
}

// Names from the network that are not UTF-8: both files stay readable for strict readers,
// each ill-formed piece read as U+FFFD the way browsers decode the raw bytes, valid
// names exact.
TEST(SourceScout, NamesThatAreNotUtf8LeaveFilesStrictReadersRead)
{
    const std::vector<std::pair<std::string, std::string>> sources = {
        {"436166c3a920e697a5e69cac", "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac"},  // valid: kept as it is
        {"4c6174696e2d31206361666520e9", ""},                                   // "Latin-1 cafe \xe9"
        {"637574e282", ""},                                                     // "cut\xe2\x82"
        {"eda080c0af2027f0", ""},                                               // surrogate, overlong, lone lead
    };
    nlohmann::json list = nlohmann::json::array();
    for (size_t i = 0; i < sources.size(); ++i)
        list.push_back({{"name_hex", sources[i].first}, {"url", "10.0.0." + std::to_string(i + 2) + ":5961"}});
    testsupport::Sandbox box;
    const ScoutRun run = scout(box, {{"sources", list}}, false);
    ASSERT_EQ(run.result.exitCode, 0) << run.result.err;

    const std::string script =
        "const fs = require('fs'); const vm = require('vm');"
        "const strict = new TextDecoder('utf-8', {fatal: true}); const lax = new TextDecoder('utf-8');"
        "const list = JSON.parse(strict.decode(fs.readFileSync(process.argv[1])));"
        "const ctx = {}; vm.runInNewContext(strict.decode(fs.readFileSync(process.argv[2])) + ';this.out = DecoderSrc;', ctx);"
        "const names = JSON.parse(process.argv[3]).map((h) => lax.decode(Buffer.from(h, 'hex')));"
        "process.stdout.write(JSON.stringify({names, list, page: ctx.out}));";
    nlohmann::json hex = nlohmann::json::array();
    for (const auto& source : sources)
        hex.push_back(source.first);
    const auto node = testsupport::runProcess({"node", "-e", script, box.path(kJsonFile), box.path(kPageFile), hex.dump()});
    ASSERT_EQ(node.exitCode, 0) << node.err;
    const nlohmann::json read = nlohmann::json::parse(node.out);
    ASSERT_EQ(read["page"].size(), sources.size());
    ASSERT_EQ(read["list"].size(), sources.size());
    const nlohmann::json parsed = nlohmann::json::parse(box.readFile(kJsonFile));  // strict as well
    for (size_t i = 0; i < sources.size(); ++i) {
        const std::string name = read["names"][i].get<std::string>();
        const std::string url = "10.0.0." + std::to_string(i + 2) + ":5961";
        EXPECT_EQ(read["list"][name], url) << name;
        EXPECT_EQ(parsed.at(name), url) << name;
        EXPECT_EQ(read["page"][i]["Decoder"], name);
        EXPECT_EQ(read["page"][i]["ID"], name + "$#!T" + url);
        if (!sources[i].second.empty()) {
            EXPECT_EQ(name, sources[i].second);
        }
    }
    EXPECT_EQ(read["names"][1], "Latin-1 cafe \xef\xbf\xbd");
    EXPECT_NE(box.readFile(kJsonFile).find("\"" + sources[0].second + "\""), std::string::npos);
}

// The appliance's set-up: etc/ and the page's directory belong to root, the web interface
// provisions the two files writable for the programs' user (the page through a link).
TEST(SourceScout, UpdatesProvisionedFilesAsTheProgramsUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to set up files of another user";
    testsupport::Sandbox box;
    const std::string top = std::filesystem::path(box.root()).parent_path().string();
    for (const std::string& dir : {top, box.root(), box.path("/etc"), box.path("/srv/tarnvik-web-ui-resources")})
        ASSERT_EQ(::chmod(dir.c_str(), 0755), 0) << dir;
    ASSERT_EQ(::chmod(box.path("/tmp").c_str(), 01777), 0);
    std::filesystem::create_directories(box.path("/opt/tarnvik/web"));
    box.writeFile("/opt/tarnvik/web/decoder-src.html", "old page");
    box.writeFile(kJsonFile, "old json");
    std::filesystem::create_symlink(box.path("/opt/tarnvik/web/decoder-src.html"), box.path(kPageFile));
    for (const std::string& file : {box.path(kJsonFile), box.path("/opt/tarnvik/web/decoder-src.html")})
        ASSERT_EQ(::chmod(file.c_str(), 0666), 0) << file;
    box.writeFile("/tmp/ndi-scenario.json", nlohmann::json({{"sources", {source("A", "10.0.0.2:5961")}}}).dump());

    const auto run = testsupport::runProcess(
        {"setpriv", "--reuid=1000", "--regid=1000", "--clear-groups", testsupport::binaryPath("tools/source-scout")},
        {{"TARNVIK_NDI_SCENARIO", box.path("/tmp/ndi-scenario.json")}}, 60s);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(box.readFile(kJsonFile), "{\n\"A\": \"10.0.0.2:5961\"\n}");
    EXPECT_TRUE(std::filesystem::is_symlink(box.path(kPageFile)));
    EXPECT_EQ(box.readFile("/opt/tarnvik/web/decoder-src.html"),
              "var DecoderSrc = [{ID:'A$#!T10.0.0.2:5961',Decoder:'A'},];");
}

TEST(SourceScout, RuntimeFailuresEndQuietly)
{
    struct Case {
        const char* label;
        nlohmann::json scenario;
        const char* lastCall;
    } cases[] = {
        {"NDI cannot initialise", {{"initialize", false}, {"sources", {source("A", "10.0.0.2:5961")}}},
         "NDIlib_initialize"},
        {"no finder", {{"find_create", false}, {"sources", {source("A", "10.0.0.2:5961")}}}, "NDIlib_destroy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        testsupport::Sandbox box;
        const ScoutRun run = scout(box, c.scenario);
        EXPECT_EQ(run.result.exitCode, 0);
        EXPECT_FALSE(box.exists(kJsonFile));
        EXPECT_FALSE(box.exists(kPageFile));
        ASSERT_FALSE(run.calls.empty());
        EXPECT_EQ(run.calls.back().rfind(c.lastCall, 0), 0u) << run.calls.back();
    }
}

} // namespace
