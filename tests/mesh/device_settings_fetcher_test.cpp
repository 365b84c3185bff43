// The fetcher of the cloud's device settings alone, with a scripted cloud: answers from its
// cache at once, one fetch per device however often it is asked for, a failing cloud retried
// with a growing pause, and a bounded list of pending requests.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <optional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "mesh/device_settings_fetcher.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::WaitUntil;

namespace {

struct Applied {
  std::string device_id;
  json folds;
  bool with_beacon;
};

// A cloud that fails its first `failures` answers and then knows every device with one fold;
// `hold` keeps the worker inside a fetch until released.
class ScriptedCloud {
 public:
  std::optional<DeviceSettings> Fetch(const std::string& device_id) {
    std::unique_lock<std::mutex> guard(lock_);
    fetched_.push_back(device_id);
    released_.wait(guard, [this] { return !hold_; });
    if (failures_ > 0) {
      --failures_;
      return std::nullopt;
    }
    return DeviceSettings{true, json{{"temp", 5}}};
  }
  void Apply(const std::string& device_id, const DeviceSettings& settings, bool with_beacon) {
    const std::lock_guard<std::mutex> guard(lock_);
    applied_.push_back({device_id, settings.folds, with_beacon});
  }
  void Fail(int failures) {
    const std::lock_guard<std::mutex> guard(lock_);
    failures_ = failures;
  }
  void Hold(bool hold) {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      hold_ = hold;
    }
    released_.notify_all();
  }
  std::vector<std::string> Fetched() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return fetched_;
  }
  std::vector<Applied> AppliedSettings() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return applied_;
  }

 private:
  mutable std::mutex lock_;
  std::condition_variable released_;
  int failures_ = 0;
  bool hold_ = false;
  std::vector<std::string> fetched_;
  std::vector<Applied> applied_;
};

class FetcherTest : public ::testing::Test {
 protected:
  std::unique_ptr<DeviceSettingsFetcher> MakeFetcher(FetcherOptions options = Options()) {
    return std::make_unique<DeviceSettingsFetcher>(
        [this](const std::string& id) { return cloud_.Fetch(id); },
        [this](const std::string& id, const DeviceSettings& settings, bool with_beacon) {
          cloud_.Apply(id, settings, with_beacon);
        },
        options);
  }
  static FetcherOptions Options() {
    FetcherOptions options;
    options.retry_first = 40ms;
    options.retry_max = 160ms;
    return options;
  }

  ScriptedCloud cloud_;
};

TEST_F(FetcherTest, RequestsAreMergedPerDeviceAndAnsweredFromTheCacheAfterwards) {
  cloud_.Hold(true);
  auto fetcher = MakeFetcher();
  fetcher->Request("first", false);
  ASSERT_TRUE(WaitUntil([&] { return cloud_.Fetched().size() == 1; }));
  // While "first" is being fetched, "second" is asked for three times, once with the beacon.
  fetcher->Request("second", false);
  fetcher->Request("second", true);
  fetcher->Request("second", false);
  EXPECT_EQ(fetcher->Pending(), 2u);
  cloud_.Hold(false);
  ASSERT_TRUE(WaitUntil([&] { return cloud_.AppliedSettings().size() == 2; }));
  EXPECT_EQ(cloud_.Fetched(), (std::vector<std::string>{"first", "second"}));
  EXPECT_TRUE(cloud_.AppliedSettings()[1].with_beacon) << "the merged request keeps the beacon";

  // Asked again: answered at once on the caller's thread, with what the cloud pushed since.
  fetcher->RememberFolds("first", json{{"temp", 9}});
  fetcher->Request("first", true);
  ASSERT_EQ(cloud_.AppliedSettings().size(), 3u);
  EXPECT_EQ(cloud_.AppliedSettings()[2].folds, json({{"temp", 9}}));
  EXPECT_EQ(cloud_.Fetched().size(), 2u);
  EXPECT_EQ(fetcher->Totals().from_cache, 1u);
}

TEST_F(FetcherTest, AFailingCloudIsAskedAgainWithAGrowingPause) {
  cloud_.Fail(3);
  auto fetcher = MakeFetcher();
  const auto start = std::chrono::steady_clock::now();
  fetcher->Request("node", true);
  ASSERT_TRUE(WaitUntil([&] { return cloud_.AppliedSettings().size() == 1; }));
  // Pauses of 40, 80 and 160 ms between the four attempts.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 280ms);
  EXPECT_EQ(cloud_.Fetched(), std::vector<std::string>(4, "node"));
  EXPECT_EQ(fetcher->Totals().failed, 3u);
  EXPECT_EQ(fetcher->Totals().fetched, 1u);
}

TEST_F(FetcherTest, PendingRequestsAreBoundedAndTheDropsCounted) {
  cloud_.Hold(true);
  FetcherOptions options = Options();
  options.max_pending = 3;
  auto fetcher = MakeFetcher(options);
  for (int device = 0; device < 5; ++device) fetcher->Request("node" + std::to_string(device), false);
  EXPECT_EQ(fetcher->Pending(), 3u);
  EXPECT_EQ(fetcher->Totals().dropped, 2u);
  cloud_.Hold(false);
  ASSERT_TRUE(WaitUntil([&] { return cloud_.AppliedSettings().size() == 3; }));
  fetcher->Stop();
}

}  // namespace
