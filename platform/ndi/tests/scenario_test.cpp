// Scenario files: the failures they fake, and files that cannot be used.
#include "standin_fixture.h"

using nlohmann::json;

TEST_F(StandinTest, ScenarioFakesFailures) {
  struct Case {
    json scenario;
    bool initialize, receiver, finder;
  };
  const std::vector<Case> cases = {
      {json::object(), true, true, true},
      {{{"initialize", false}}, false, true, true},
      {{{"recv_create", false}}, true, false, true},
      {{{"find_create", false}}, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario.dump());
    useScenario(c.scenario);
    EXPECT_EQ(NDIlib_initialize(), c.initialize);
    NDIlib_recv_instance_t receiver = connect("HOST (Test)");
    EXPECT_EQ(receiver != nullptr, c.receiver);
    NDIlib_find_instance_t finder = NDIlib_find_create_v3(nullptr, "{}");
    EXPECT_EQ(finder != nullptr, c.finder);
    NDIlib_find_instance_t plain = NDIlib_find_create_v2();
    EXPECT_EQ(plain != nullptr, c.finder);
    if (receiver) NDIlib_recv_destroy(receiver);
    if (finder) NDIlib_find_destroy(finder);
    if (plain) NDIlib_find_destroy(plain);
    NDIlib_destroy();
  }
}

TEST_F(StandinTest, VersionTextComesFromTheScenario) {
  EXPECT_NE(std::string(NDIlib_version()).find(' '), std::string::npos);
  useScenario({{"version", "NDI SDK LINUX 5.6.1"}});
  EXPECT_STREQ(NDIlib_version(), "NDI SDK LINUX 5.6.1");
}

TEST_F(StandinTest, UnusableScenarioFailsEverything) {
  const std::vector<std::string> bad = {
      "{not json",
      R"({"sources": [{"name": "A", "segmnets": []}]})",
      R"({"sources": [{"url": "10.0.0.1"}]})",
      R"({"sources": [{"name": "A", "segments": [{"video": {"width": 641}}]}]})",
      R"({"sources": [{"name": "A", "segments": [{"video": {"scan": "psf"}}]}]})",
      R"({"sources": [{"name": "A", "segments": [{"video": {"rate": [0, 1]}}]}]})",
      R"({"sources": [{"name": "A", "segments": [{"video": {"height": 575, "scan": "fields"}}]}]})",
      R"({"sources": [{"name": "A", "segments": [{"video": {"stride": 100}}]}]})",
      R"({"sources": [{"name": "A", "segments": [{"video": {"pattern": "file", "file": "missing.uyvy"}}]}]})",
      R"({"sources": [{"name": "A", "segments": [{"audio": {"samples": [1601, 0]}}]}]})",
      R"({"sources": [{"name": "A", "segments": [{"audio": {}, "frames": 3}]}]})",
      R"({"sources": [{"name": "A", "segments": [{}]}]})",
      R"({"pacing": "fast"})",
      R"({"sources": {"name": "A"}})",
      R"({"sources": [{"name": "A", "name_hex": "41"}]})",
      R"({"sources": [{"name_hex": "4"}]})",
      R"({"sources": [{"name_hex": "4g"}]})",
      R"({"sources": [{"name_hex": "4100"}]})",
  };
  for (const std::string& text : bad) {
    SCOPED_TRACE(text);
    useScenarioText(text);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(NDIlib_initialize());
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("scenario.json"), std::string::npos) << message;
    EXPECT_EQ(connect("A"), nullptr);
    EXPECT_EQ(NDIlib_find_create_v2(), nullptr);
  }
}

TEST_F(StandinTest, MissingScenarioFileFails) {
  setenv("TARNVIK_NDI_SCENARIO", (dir_ + "/absent.json").c_str(), 1);
  ndi_standin_reset();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(NDIlib_initialize());
  EXPECT_NE(testing::internal::GetCapturedStderr().find("absent.json"), std::string::npos);
}
