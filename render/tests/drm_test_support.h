// Helpers the DRM tests share: frames whose releases are counted, waiting on a condition,
// and a private root holding the virtual KMS device.
#pragma once

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

#include "testsupport/process.h"

namespace drmtest {

// How often each frame handed in came back.
struct Ledger {
    std::mutex mutex;
    std::map<int, int> released;  // frame number -> release count
    std::atomic<int> handedIn{0};

    int count(int n)
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = released.find(n);
        return it == released.end() ? 0 : it->second;
    }
    int total()
    {
        std::lock_guard<std::mutex> lock(mutex);
        int sum = 0;
        for (const auto& [n, c] : released)
            sum += c;
        return sum;
    }
    // Every frame handed in so far was released exactly once.
    void expectEachOnce()
    {
        std::lock_guard<std::mutex> lock(mutex);
        const int n = handedIn.load();
        EXPECT_EQ(static_cast<int>(released.size()), n);
        for (const auto& [frame, c] : released)
            EXPECT_EQ(c, 1) << "frame " << frame;
    }
};

// The user pointer of one frame; onRelease counts it and frees it.
struct Token {
    Ledger* ledger;
    int number;
};

inline void onRelease(void**, int*, void* user)
{
    auto* token = static_cast<Token*>(user);
    {
        std::lock_guard<std::mutex> lock(token->ledger->mutex);
        ++token->ledger->released[token->number];
    }
    delete token;
}

// Waits for a condition; the bound only keeps a broken build from hanging.
inline bool eventually(const std::function<bool()>& condition)
{
    return testsupport::waitFor(condition, std::chrono::seconds(120));
}

// A fresh /tmp/<name>-XXXXXX with an empty dev/dri, made the process root through
// TARNVIK_ROOT; empty on failure.
inline std::string makeDeviceRoot(const std::string& name)
{
    std::string pattern = "/tmp/" + name + "-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return {};
    std::filesystem::create_directories(pattern + "/dev/dri");
    setenv("TARNVIK_ROOT", pattern.c_str(), 1);
    return pattern;
}

// The node of the virtual device under a root from makeDeviceRoot.
inline std::string cardPath(const std::string& root) { return root + "/dev/dri/card0"; }

// Undoes makeDeviceRoot.
inline void removeDeviceRoot(const std::string& root)
{
    unsetenv("TARNVIK_ROOT");
    if (!root.empty())
        std::filesystem::remove_all(root);
}

}  // namespace drmtest
