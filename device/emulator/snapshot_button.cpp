#include "snapshot_button.h"

namespace camemu {
namespace {
// A host that never reads the interrupt pipe must not make the queue grow without end.
constexpr size_t kMaxQueuedEvents = 64;
}  // namespace

void SnapshotButton::QueueEvent(bool released) {
  if (!eventsEnabled_) return;
  if (events_.size() == kMaxQueuedEvents) events_.pop_front();
  // Byte 1 numbers the events so that a trace shows lost ones.
  events_.push_back({static_cast<uint8_t>(released ? kButtonEventReleased : 0), sequence_++, 0, 0});
}

void SnapshotButton::Press(int64_t now) {
  Update(now);
  releaseAt_ = -1;
  if (down_) return;
  down_ = true;
  latched_ = true;
  QueueEvent(false);
}

void SnapshotButton::Release(int64_t now) {
  Update(now);
  releaseAt_ = -1;
  if (!down_) return;
  down_ = false;
  QueueEvent(true);
}

void SnapshotButton::Hold(int64_t now, int64_t duration100ns) {
  Press(now);
  releaseAt_ = now + (duration100ns > 0 ? duration100ns : 0);
}

void SnapshotButton::Update(int64_t now) {
  if (releaseAt_ >= 0 && now >= releaseAt_) {
    releaseAt_ = -1;
    down_ = false;
    QueueEvent(true);
  }
}

uint8_t SnapshotButton::RegisterValue() const {
  return static_cast<uint8_t>((down_ ? button_bits::kLevel : 0) |
                              (latched_ ? button_bits::kLatched : 0));
}

void SnapshotButton::WriteRegister(uint8_t value) {
  if ((value & button_bits::kLatched) && !down_) latched_ = false;
}

bool SnapshotButton::PopEvent(std::array<uint8_t, 4>* event) {
  if (events_.empty()) return false;
  *event = events_.front();
  events_.pop_front();
  return true;
}

void SnapshotButton::Reset() {
  latched_ = down_;
  eventsEnabled_ = true;
  events_.clear();
}

}  // namespace camemu
