#include "common/singleton.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Counted {
  Counted() { ++constructed; }
  ~Counted() { ++destroyed; }
  static inline int constructed = 0;
  static inline int destroyed = 0;
  int value = 0;
};

// Made only from a value, as the services built from the configuration store are.
struct Configured {
  explicit Configured(int initial) : value(initial) {}
  int value;
};

}  // namespace

TEST(Singleton, CreatedOnFirstUseAndDeletedByDestroy) {
  EXPECT_FALSE(Singleton<Counted>::Exists());
  Singleton<Counted>::Instance().value = 7;
  EXPECT_EQ(Singleton<Counted>::Instance().value, 7);
  EXPECT_EQ(Counted::constructed, 1);

  Singleton<Counted>::Destroy();
  EXPECT_EQ(Counted::destroyed, 1);
  EXPECT_FALSE(Singleton<Counted>::Exists());
  Singleton<Counted>::Destroy();  // a second destroy does nothing
  EXPECT_EQ(Counted::destroyed, 1);

  EXPECT_EQ(Singleton<Counted>::Instance().value, 0);  // a fresh object after Destroy
  Singleton<Counted>::Destroy();
}

TEST(Singleton, AFactoryMakesTheInstanceOnlyWhenThereIsNone) {
  int made = 0;
  const auto make = [&made] {
    ++made;
    return std::make_unique<Configured>(5);
  };
  EXPECT_EQ(Singleton<Configured>::Instance(make).value, 5);
  Singleton<Configured>::Instance(make).value = 6;
  EXPECT_EQ(Singleton<Configured>::Instance(make).value, 6);
  EXPECT_EQ(made, 1);

  Singleton<Configured>::Install(std::make_unique<Configured>(9));
  EXPECT_EQ(Singleton<Configured>::Instance(make).value, 9);  // an installed one is kept
  EXPECT_EQ(made, 1);
  Singleton<Configured>::Destroy();
}
