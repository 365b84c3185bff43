#include "common/singleton.h"

#include <gtest/gtest.h>

namespace {

struct Counted {
  Counted() { ++constructed; }
  ~Counted() { ++destroyed; }
  static inline int constructed = 0;
  static inline int destroyed = 0;
  int value = 0;
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
