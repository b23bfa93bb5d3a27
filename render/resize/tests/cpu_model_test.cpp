// The variant ippInit chooses for each processor class, on processor models
// emulated by qemu-x86_64; the chosen variant also has to run there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

std::string qemu() {
    for (const char* p : {"/usr/bin/qemu-x86_64", "/usr/bin/qemu-x86_64-static"})
        if (access(p, X_OK) == 0) return p;
    return {};
}

std::string runUnder(const std::string& emulator, const std::string& model) {
    const std::string cmd = emulator + " -cpu " + model + " " RESIZE_CPU_PROBE " 2>&1";
    std::string out;
    if (FILE* f = popen(cmd.c_str(), "r")) {
        std::array<char, 256> buf{};
        while (fgets(buf.data(), buf.size(), f)) out += buf.data();
        pclose(f);
    }
    return out;
}

struct Model {
    const char* cpu;
    const char* expect;           // index and status
    const char* cache = nullptr;  // ippGetMaxCacheSizeB status/size, when checked
};

// Index: 0 generic, 1 SSE3, 2 SSSE3, 3 SSSE3+MOVBE, 4 SSE4.1, 5 AVX, 6 AVX2.
// Status 20: not the reference vendor (the variant is chosen anyway).
const Model kModels[] = {
    {"qemu64,-pni,vendor=GenuineIntel", "index=0 status=0 mask=0x7 "},
    {"qemu64,vendor=GenuineIntel", "index=1 status=0"},
    {"core2duo", "index=2 status=0"},
    {"core2duo,+movbe", "index=3 status=0"},
    {"Nehalem", "index=4 status=0"},
    {"SandyBridge", "index=5 status=0"},
    {"Haswell,-avx,-avx2", "index=4 status=0"},
    {"Haswell,-avx2", "index=5 status=0"},
    {"Haswell", "index=6 status=0", "cache=0/16777216"},  // from CPUID leaf 4
    {"EPYC", "index=6 status=20", "cache=36/0"},            // another vendor: not determinable
    // Highest leaf 2: the leaf-2 descriptor table (qemu reports descriptor 0x4d, 16 MiB).
    {"qemu64,vendor=GenuineIntel,level=2", "index=1 status=0", "cache=0/16777216"},
    {"Nehalem,level=1", "index=4 status=0", "cache=36/0"},
    {"Opteron_G3", "index=1 status=20"},
};

class CpuModelTest : public ::testing::TestWithParam<Model> {};

TEST_P(CpuModelTest, InitChoosesTheVariantOfTheModel) {
    if (kSanitized) GTEST_SKIP() << "sanitizer runtimes do not run under qemu-user";
    const std::string emulator = qemu();
    if (emulator.empty()) GTEST_SKIP() << "qemu-x86_64 is not installed (Debian package qemu-user)";
    const std::string out = runUnder(emulator, GetParam().cpu);
    EXPECT_NE(out.find(GetParam().expect), std::string::npos) << GetParam().cpu << ": " << out;
    EXPECT_NE(out.find("maxdiff=0"), std::string::npos) << GetParam().cpu << ": " << out;
    if (GetParam().cache) {
        EXPECT_NE(out.find(GetParam().cache), std::string::npos) << GetParam().cpu << ": " << out;
    }
}

INSTANTIATE_TEST_SUITE_P(Resize, CpuModelTest, ::testing::ValuesIn(kModels), [](const auto& info) {
    std::string n = info.param.cpu;
    for (char& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
});

}  // namespace
