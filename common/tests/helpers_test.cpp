#include <gtest/gtest.h>

#include <fstream>

#include "common/helpers.h"
#include "testsupport/process.h"
#include "testsupport/sandbox.h"

namespace {

struct SplitCase {
    const char* text;
    char delimiter;
    std::vector<std::string> pieces;
};

TEST(Tokenize, SplitsLikeGetline)
{
    const SplitCase cases[] = {
        {"a,,b,", ',', {"a", "", "b"}},
        {"", ',', {}},
        {"whole", ',', {"whole"}},
        {",lead", ',', {"", "lead"}},
        {"1920x1080", 'x', {"1920", "1080"}},
        {"one\ntwo\n", '\n', {"one", "two"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> out = {"stale"};
        tokenize(c.text, c.delimiter, out);
        EXPECT_EQ(out, c.pieces) << "text: " << c.text;
    }
}

struct TextCase {
    std::string in;
    std::string out;
};

TEST(Trim, RemovesOnlyOuterWhitespace)
{
    const TextCase cases[] = {
        {" \t\n", ""},
        {"", ""},
        {"  a b  ", "a b"},
        {"\f\vname\r\n", "name"},
        {"x", "x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(trim(c.in), c.out) << "[" << c.in << "]";
    EXPECT_EQ(ltrim("  a "), "a ");
    EXPECT_EQ(rtrim("  a "), "  a");
    EXPECT_EQ(ltrim("   "), "");
    EXPECT_EQ(rtrim("\n"), "");
}

TEST(RemoveExtraSpaces, FoldsRuns)
{
    const TextCase cases[] = {
        {"  a \t b  ", "a b"},
        {"a\n\nb", "a b"},
        {"   ", ""},
        {"plain", "plain"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(removeExtraSpaces(c.in), c.out) << "[" << c.in << "]";
}

TEST(RemoveExtraSpacesAndCharacters, CleansXrandrModeLines)
{
    const TextCase cases[] = {
        {"   1920x1080     60.00*+  59.94    50.00  ", "1920x1080 60.00 59.94 50.00"},
        {"   1920x1080i    60.00    50.00    59.94  ", "1920x1080i 60.00 50.00 59.94"},
        {"   3840x2160_60.00  60.00  ", "3840x216060.00 60.00"},
        {"DUMMY0 connected", "0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(removeExtraSpacesAndCharacters(c.in), c.out) << "[" << c.in << "]";
}

TEST(Exec, ReturnsStandardOutputWhole)
{
    EXPECT_EQ(exec("true"), "");
    EXPECT_EQ(exec("printf 'a\\nb'"), "a\nb");
    // Longer than one 128-byte read.
    std::string longLine(1000, 'z');
    EXPECT_EQ(exec(("printf '" + longLine + "'").c_str()), longLine);
    EXPECT_EQ(exec("echo out; echo err >&2"), "out\n");
}

TEST(Exec, AlsoTellsHowTheCommandEnded)
{
    struct Case {
        const char* command;
        const char* out;
        int status;  // as the shell's $? gives it
    } cases[] = {
        {"echo listing", "listing\n", 0},
        {"echo partial; exit 3", "partial\n", 3},
        {"tarnvik-no-such-command 2>/dev/null", "", 127},
        {"echo before; kill -9 $$", "before\n", 128 + 9},
    };
    for (const auto& c : cases) {
        int status = -2;
        EXPECT_EQ(exec(c.command, &status), c.out) << c.command;
        EXPECT_EQ(status, c.status) << c.command;
    }
}

TEST(GetFileString, ReadsBytesOrNothing)
{
    testsupport::Sandbox box;
    std::string bytes("a\0b\r\n", 5);
    box.writeFile("/etc/f", bytes);
    EXPECT_EQ(getFileString(box.path("/etc/f").c_str()), bytes);
    EXPECT_EQ(getFileString(box.path("/etc/missing").c_str()), "");
    box.writeFile("/etc/empty", "");
    EXPECT_EQ(getFileString(box.path("/etc/empty").c_str()), "");
}

TEST(DebugLog, PrintsOnlyWhenSwitchedOn)
{
    isDebug = false;
    testing::internal::CaptureStdout();
    EXPECT_EQ(DebugLog("[ DEBUG ] %d\n", 7), 0);
    isDebug = true;
    EXPECT_EQ(DebugLog("[ DEBUG ] %d\n", 7), 12);
    isDebug = false;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[ DEBUG ] 7\n");
}

TEST(DebugSwitch, ReadsTheEnvironmentAtStart)
{
    struct Case {
        const char* value;  // null: unset
        const char* printed;
        bool on;
    } cases[] = {
        {nullptr, "\nDebug level: NONE\n", false},
        {"", "\nDebug level: \n", true},
        {"3", "\nDebug level: 3\n", true},
    };
    for (const auto& c : cases) {
        if (c.value)
            ::setenv("VXR_DEBUG_LEVEL", c.value, 1);
        else
            ::unsetenv("VXR_DEBUG_LEVEL");
        testing::internal::CaptureStdout();
        initDebugSwitch();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
        EXPECT_EQ(isDebug, c.on);
    }
    ::unsetenv("VXR_DEBUG_LEVEL");
    isDebug = false;
}

} // namespace
