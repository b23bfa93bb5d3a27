// Discovery: the finder sees the scenario's sources and reports changes at their times.
#include <thread>

#include "standin_fixture.h"

using nlohmann::json;

namespace {

std::vector<std::string> currentNames(NDIlib_find_instance_t finder, std::vector<std::string>* urls = nullptr) {
  uint32_t count = 99;
  const NDIlib_source_t* sources = NDIlib_find_get_current_sources(finder, &count);
  std::vector<std::string> names;
  for (uint32_t i = 0; i < count; ++i) {
    names.push_back(sources[i].p_ndi_name);
    if (urls) urls->push_back(sources[i].p_url_address);
  }
  return names;
}

}  // namespace

TEST_F(StandinTest, FinderReportsChangesAtTheirTimesOnly) {
  useScenario({{"sources",
                {{{"name", "A (One)"}, {"url", "10.0.0.2:5961"}, {"vanish_ms", 1500}},
                 {{"name", "B (Two)"}, {"url", "10.0.0.3:5961"}, {"appear_ms", 350}}}}});
  ASSERT_TRUE(NDIlib_initialize());
  auto created = std::chrono::steady_clock::now();
  NDIlib_find_instance_t finder = NDIlib_find_create_v2();
  ASSERT_NE(finder, nullptr);

  // What is there at creation counts as a change at once.
  EXPECT_TRUE(NDIlib_find_wait_for_sources(finder, 0));
  std::vector<std::string> urls;
  EXPECT_EQ(currentNames(finder, &urls), (std::vector<std::string>{"A (One)"}));
  EXPECT_EQ(urls, (std::vector<std::string>{"10.0.0.2:5961"}));

  // Nothing changes in the first 350 ms. A loaded machine may reach these waits late,
  // so a change counts as an error only when it is reported before its time.
  bool reported = false;
  for (uint32_t timeout : {100u, 0u}) {
    bool changed = NDIlib_find_wait_for_sources(finder, timeout);
    if (secondsSince(created) < 0.35) {
      EXPECT_FALSE(changed) << "wait of " << timeout << " ms";
    }
    reported = reported || changed;
  }

  if (!reported) {
    EXPECT_TRUE(NDIlib_find_wait_for_sources(finder, 5000));
  }
  EXPECT_GE(secondsSince(created), 0.35);
  EXPECT_EQ(currentNames(finder), (std::vector<std::string>{"A (One)", "B (Two)"}));

  EXPECT_TRUE(NDIlib_find_wait_for_sources(finder, 5000));
  EXPECT_GE(secondsSince(created), 1.5);
  EXPECT_EQ(currentNames(finder), (std::vector<std::string>{"B (Two)"}));

  // No change is left: the wait lasts its time-out and says so.
  auto wait = std::chrono::steady_clock::now();
  EXPECT_FALSE(NDIlib_find_wait_for_sources(finder, 200));
  EXPECT_GE(secondsSince(wait), 0.2);
  NDIlib_find_destroy(finder);
}

TEST_F(StandinTest, ListTakenWithoutWaitingIsNotReportedAgain) {
  useScenario({{"sources", {{{"name", "A (One)"}}}}});
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_find_instance_t finder = NDIlib_find_create_v2();
  EXPECT_EQ(currentNames(finder), (std::vector<std::string>{"A (One)"}));
  EXPECT_FALSE(NDIlib_find_wait_for_sources(finder, 50));
  NDIlib_find_destroy(finder);
}

TEST_F(StandinTest, NamesThatAreNotUtf8ComeAsTheirBytes) {
  useScenario({{"sources", {{{"name_hex", "436166e9"}}, {{"name_hex", "e282ac"}}}}});
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_find_instance_t finder = NDIlib_find_create_v2();
  EXPECT_EQ(currentNames(finder), (std::vector<std::string>{"Caf\xe9", "\xe2\x82\xac"}));
  NDIlib_find_destroy(finder);
}

TEST_F(StandinTest, NoSourcesMeansNoChangeAndAnEmptyList) {
  useScenario({{"sources", json::array()}});
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_find_instance_t finder = NDIlib_find_create_v2();
  EXPECT_FALSE(NDIlib_find_wait_for_sources(finder, 50));
  uint32_t count = 7;
  EXPECT_EQ(NDIlib_find_get_current_sources(finder, &count), nullptr);
  EXPECT_EQ(count, 0u);
  NDIlib_find_destroy(finder);
}

TEST_F(StandinTest, AllSourcesVanishingIsAChangeToAnEmptyList) {
  useScenario({{"sources", {{{"name", "A (One)"}, {"vanish_ms", 1000}}}}});
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_find_instance_t finder = NDIlib_find_create_v2();
  EXPECT_TRUE(NDIlib_find_wait_for_sources(finder, 5000));
  EXPECT_EQ(currentNames(finder).size(), 1u);
  EXPECT_TRUE(NDIlib_find_wait_for_sources(finder, 5000));
  EXPECT_TRUE(currentNames(finder).empty());
  NDIlib_find_destroy(finder);
}

TEST_F(StandinTest, FinderCreationIsLoggedWithItsSettings) {
  useScenario({{"sources", json::array()}});
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_find_create_t settings;
  settings.show_local_sources = true;
  settings.p_groups = "Studio,Stage";
  settings.p_extra_ips = "[10.0.0.7]";
  NDIlib_find_instance_t finder = NDIlib_find_create_v3(&settings, "{\"ndi\":{}}");
  NDIlib_find_destroy(finder);
  NDIlib_find_destroy(NDIlib_find_create_v2(nullptr));
  auto lines = logLinesOf("NDIlib_find_create_v3");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "NDIlib_find_create_v3 settings=true show_local_sources=true groups=\"Studio,Stage\" "
            "extra_ips=\"[10.0.0.7]\" config=\"{\\\"ndi\\\":{}}\" find=1");
  lines = logLinesOf("NDIlib_find_create_v2");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "NDIlib_find_create_v2 settings=false show_local_sources=true groups=null extra_ips=null find=2");
}
