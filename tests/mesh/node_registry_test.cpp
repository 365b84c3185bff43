// The node registry's ageing: a node is stale after twice its longest fold plus a minute, never
// sooner than the floor; whoever holds a removed node's subscription is told.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "mesh/node_registry.h"
#include "timer/timer_worker.h"

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

TEST(NodeRegistryTest, AgeingFollowsTheLongestFold) {
  const WatchdogTiming timing{std::make_shared<timer::TimerWorker>(), 1s};
  struct Case {
    const char* what;
    json folds;           // null: the cloud gave none
    std::time_t unheard;  // seconds
    bool removed;
  };
  const std::vector<Case> cases{
      {"no folds: the floor of 300 s", nullptr, 290, false},
      {"no folds, past the floor", nullptr, 310, true},
      {"a five-minute fold survives one lost report", json{{"temp", 5}}, 400, false},
      {"a five-minute fold, two reports and a minute lost", json{{"temp", 5}}, 670, true},
      {"the longest fold counts", json{{"temp", 1}, {"hum", 60}}, 7000, false},
      {"a one-minute fold still waits the floor", json{{"temp", 1}}, 250, false},
  };
  const std::time_t now = 1'800'000'000;
  std::vector<std::string> forgotten;
  NodeRegistry nodes([&](const std::string& id) { forgotten.push_back(id); });
  for (std::size_t index = 0; index < cases.size(); ++index) {
    auto node = std::make_shared<MeshNode>(static_cast<std::uint16_t>(0x0100 + index), 0x0101,
                                           "node" + std::to_string(index), "1.0", 0, [](auto, auto) {}, 0, timing);
    if (!cases[index].folds.is_null()) node->UpdateFolds(cases[index].folds);
    node->SeenAt(now - cases[index].unheard);
    nodes.Add(node);
  }
  nodes.RemoveStale(now, 300);
  std::vector<std::string> expected;
  for (std::size_t index = 0; index < cases.size(); ++index) {
    const auto address = static_cast<std::uint16_t>(0x0100 + index);
    EXPECT_EQ(nodes.CountAt(address), cases[index].removed ? 0u : 1u) << cases[index].what;
    if (cases[index].removed) expected.push_back("node" + std::to_string(index));
  }
  std::sort(forgotten.begin(), forgotten.end());
  EXPECT_EQ(forgotten, expected) << "each removed node is told once";
}

}  // namespace
