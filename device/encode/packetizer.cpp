#include "packetizer.h"

#include <algorithm>
#include <cstring>

namespace camencode {

void Packetizer::BeginFrame(std::vector<uint8_t> data, uint32_t frameCounter) {
  data_ = std::move(data);
  sent_ = 0;
  frameCounter_ = frameCounter;
  packetNumber_ = 0;
  busy_ = true;
}

void Packetizer::WriteHeader(uint8_t* buffer, uint8_t flags, uint64_t interval) const {
  if (frameCounter_ & 1) flags |= header_flags::kFrameToggle;
  buffer[0] = kPacketHeaderSize;
  buffer[1] = flags;
  buffer[2] = static_cast<uint8_t>(packetNumber_);
  buffer[3] = static_cast<uint8_t>(packetNumber_ >> 8);
  for (int i = 0; i < 4; ++i) {
    buffer[4 + i] = static_cast<uint8_t>(frameCounter_ >> (8 * i));
    buffer[8 + i] = static_cast<uint8_t>(interval >> (8 * i));
  }
}

uint32_t Packetizer::NextPacket(uint8_t* buffer, uint32_t capacity, uint32_t maxPacket,
                                uint64_t interval, bool* ended) {
  *ended = false;
  if (!busy_ || unit_ <= kPacketHeaderSize) return 0;
  uint32_t multiple = std::min<uint32_t>(3, std::min(capacity, maxPacket) / unit_);
  if (multiple == 0) return 0;
  size_t remaining = data_.size() - sent_;
  size_t payloadMax = multiple * unit_ - kPacketHeaderSize;
  uint8_t flags = packetNumber_ == 0 ? header_flags::kFirst : 0;

  size_t payload;
  if (remaining > payloadMax) {
    payload = payloadMax;
  } else if (remaining != 0 && (remaining + kPacketHeaderSize) % unit_ == 0) {
    payload = remaining;  // would look like a data packet: send it as one, pad packet follows
  } else {
    // The end packet: the rest of the frame, or one pad byte when nothing is left.
    *ended = true;
    flags |= header_flags::kLast;
    payload = remaining;
  }
  WriteHeader(buffer, flags, interval);
  if (payload != 0) std::memcpy(buffer + kPacketHeaderSize, data_.data() + sent_, payload);
  sent_ += payload;
  ++packetNumber_;
  uint32_t length = static_cast<uint32_t>(kPacketHeaderSize + payload);
  if (*ended) {
    if (payload == 0) buffer[length++] = 0;
    busy_ = false;
  }
  return length;
}

uint32_t Packetizer::AbandonFrame(uint8_t* buffer, uint32_t capacity, uint64_t interval) {
  if (capacity < kPacketHeaderSize) return 0;
  WriteHeader(buffer, header_flags::kLast | header_flags::kAbandoned, interval);
  busy_ = false;
  return kPacketHeaderSize;
}

}  // namespace camencode
