// The camera's snapshot button. Tests and the tool press, release or hold it; the bridge shows it
// in its button register (for cameras that poll) and queues a 4-byte event for the interrupt pipe
// at every press and every release. Times are the platform clock (100 ns units), so that a hold
// ends when the clock, virtual or real, reaches its end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace camemu {

// Bits of the button register.
namespace button_bits {
constexpr uint8_t kLevel = 0x01;    // read-only: the button is down now
constexpr uint8_t kLatched = 0x02;  // set by a press; write 1 to clear once the button is up
}  // namespace button_bits

// Byte 0 of an interrupt event: bit 3 set when the button came up, clear when it went down.
constexpr uint8_t kButtonEventReleased = 0x08;

class SnapshotButton {
 public:
  void Press(int64_t now);
  void Release(int64_t now);
  // Down now, up by itself once the clock reaches now + duration.
  void Hold(int64_t now, int64_t duration100ns);

  // Brings a timed hold to its end when it is due.
  void Update(int64_t now);
  uint8_t RegisterValue() const;
  // A write of 1 to the latch bit clears it, unless the button is still down.
  void WriteRegister(uint8_t value);
  // The oldest queued event (4 bytes), false when none is queued.
  bool PopEvent(std::array<uint8_t, 4>* event);
  void SetEventsEnabled(bool enabled) { eventsEnabled_ = enabled; }
  void Reset();

 private:
  void QueueEvent(bool released);

  bool down_ = false;
  bool latched_ = false;
  bool eventsEnabled_ = true;
  int64_t releaseAt_ = -1;  // end of a timed hold, -1 when none
  uint8_t sequence_ = 0;
  std::deque<std::array<uint8_t, 4>> events_;
};

}  // namespace camemu
