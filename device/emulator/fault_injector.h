// The one place where the device decides to misbehave. Each failure point asks Fire() for its fault
// exactly once per occasion: a one-shot budget is spent first, then the fault's rate applies.
// Settings that are not per-occasion (stuck busy bit, slow requests, removal) are read by their
// failure points from settings().
#pragma once

#include <array>
#include <cstdint>
#include <random>

#include "config.h"

namespace camemu {

class FaultInjector {
 public:
  explicit FaultInjector(const FaultSettings& settings) { Configure(settings); }

  // Takes new settings; the random source restarts when the seed changes.
  void Configure(const FaultSettings& settings);
  bool Fire(Fault fault);

  const FaultSettings& settings() const { return settings_; }
  uint64_t fired(Fault fault) const { return fired_[static_cast<size_t>(fault)]; }

 private:
  FaultSettings settings_;
  std::array<uint64_t, kFaultCount> fired_{};
  std::mt19937 random_;
  bool seeded_ = false;
};

}  // namespace camemu
