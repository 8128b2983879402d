#include "fault_injector.h"

namespace camemu {

void FaultInjector::Configure(const FaultSettings& settings) {
  if (!seeded_ || settings.seed != settings_.seed) {
    random_.seed(settings.seed);
    seeded_ = true;
  }
  settings_ = settings;
}

bool FaultInjector::Fire(Fault fault) {
  size_t index = static_cast<size_t>(fault);
  bool fire = false;
  if (settings_.oneShot[index] > 0) {
    --settings_.oneShot[index];
    fire = true;
  } else if (settings_.ratePercent[index] > 0) {
    fire = std::uniform_int_distribution<uint32_t>(0, 99)(random_) < settings_.ratePercent[index];
  }
  if (fire) ++fired_[index];
  return fire;
}

}  // namespace camemu
