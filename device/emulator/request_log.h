// Every control transfer the device answered: setup packet, data (sent or returned), result and the
// platform time, for tests and for the tool's USB trace. Bounded: the oldest records go first.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "usb_bus.h"

namespace camemu {

struct RequestRecord {
  host::UsbSetupPacket setup;
  std::vector<uint8_t> data;  // host-to-device: what was sent; device-to-host: what was returned
  host::UsbResult result;
  int64_t timestamp100ns;
};

class RequestLog {
 public:
  static constexpr size_t kDefaultCapacity = 65536;

  void Record(RequestRecord record);
  std::vector<RequestRecord> Records() const { return {records_.begin(), records_.end()}; }
  void Clear();
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  void SetCapacity(size_t capacity);
  uint64_t overflowed() const { return overflowed_; }  // records dropped to stay in capacity

 private:
  std::deque<RequestRecord> records_;
  size_t capacity_ = kDefaultCapacity;
  uint64_t overflowed_ = 0;
  bool enabled_ = true;
};

}  // namespace camemu
