// The main of every test program: each test must end with deferred work drained and with no more
// pool blocks than it started with, so that a leak shows up in the test that caused it.
#include <gtest/gtest.h>

#include <map>

#include "host_control.h"

namespace {

using PoolCounts = std::map<std::pair<ULONG, size_t>, size_t>;

PoolCounts CountPool() {
  PoolCounts counts;
  for (const host::PoolUsage& usage : host::PoolReport()) counts[{usage.tag, usage.size}] = usage.count;
  return counts;
}

class PoolLeakCheck : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override { before_ = CountPool(); }

  void OnTestEnd(const testing::TestInfo& test) override {
    host::DrainDeferredWork();
    host::ClearAllocationFaults();
    std::vector<host::PoolUsage> leaked;
    for (const auto& [key, count] : CountPool()) {
      size_t previous = before_.count(key) ? before_[key] : 0;
      if (count > previous) leaked.push_back({key.first, key.second, count - previous});
    }
    if (!leaked.empty()) {
      ADD_FAILURE() << test.test_suite_name() << "." << test.name()
                    << " left pool blocks allocated:\n"
                    << host::FormatPoolReport(leaked);
    }
  }

  PoolCounts before_;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new PoolLeakCheck);
  return RUN_ALL_TESTS();
}
