// Shared set-up of the stand-in's tests: a private folder with the scenario file and the
// call log, and a fresh stand-in state for each test.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Processing.NDI.Lib.h"
#include "ndi_standin.h"

class StandinTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ndi-standin-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("TARNVIK_NDI_LOG", logPath().c_str(), 1);
    unsetenv("TARNVIK_NDI_SCENARIO");
    ndi_standin_reset();
  }

  void TearDown() override {
    unsetenv("TARNVIK_NDI_SCENARIO");
    unsetenv("TARNVIK_NDI_LOG");
    ndi_standin_reset();
    std::filesystem::remove_all(dir_);
  }

  void useScenario(const nlohmann::json& scenario) { useScenarioText(scenario.dump(2)); }

  void useScenarioText(const std::string& text) {
    const std::string path = dir_ + "/scenario.json";
    std::ofstream(path) << text;
    setenv("TARNVIK_NDI_SCENARIO", path.c_str(), 1);
    ndi_standin_reset();
  }

  std::string logPath() const { return dir_ + "/calls.log"; }

  std::vector<std::string> logLines() const {
    std::ifstream in(logPath());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // Log lines of one function (the first word).
  std::vector<std::string> logLinesOf(const std::string& function) const {
    std::vector<std::string> found;
    for (const auto& line : logLines()) {
      if (line.compare(0, function.size() + 1, function + " ") == 0 || line == function) found.push_back(line);
    }
    return found;
  }

  NDIlib_recv_instance_t connect(const char* source_name) {
    NDIlib_recv_create_v3_t settings;
    settings.source_to_connect_to.p_ndi_name = source_name;
    settings.p_ndi_recv_name = "test receiver";
    return NDIlib_recv_create_v4(&settings, nullptr);
  }

  static double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  std::string dir_;
};

// One source of the given segments, as fast as captured.
inline nlohmann::json oneSource(const nlohmann::json& segments, const char* pacing = "capture") {
  return {{"sources", {{{"name", "HOST (Test)"}, {"url", "10.0.0.9:5961"}, {"pacing", pacing}, {"segments", segments}}}}};
}
