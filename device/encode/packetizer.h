// Cuts encoded frames into the isochronous packets the drivers' image processor expects. Every
// packet starts with a 12-byte header; a data packet is 1, 2 or 3 times the header packet size
// long; the packet that ends a frame has any other length; a packet of just the header abandons
// the frame. Idle service intervals carry empty packets (the caller's business).
//
// The tail of a frame is sent so that its end is never mistaken: when the remaining bytes would
// make an end packet whose length is a multiple of the packet unit, they go as one more data
// packet, and a 13-byte end packet carrying one pad byte follows (the one byte past the frame's
// data is the only trace of it). The same pad packet ends a frame whose data filled its packets
// exactly.
//
// Header (12 bytes): 0 header length (12); 1 flags (bit 0 first packet of a frame, bit 1 last
// packet, bit 2 frame counter bit 0, bit 6 frame abandoned); 2-3 packet number in the frame
// (little-endian); 4-7 frame counter; 8-11 service interval number (the microframe number at
// high speed, the bus frame number at full speed), low 32 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace camencode {

constexpr uint32_t kPacketHeaderSize = 12;

namespace header_flags {
constexpr uint8_t kFirst = 0x01;
constexpr uint8_t kLast = 0x02;
constexpr uint8_t kFrameToggle = 0x04;
constexpr uint8_t kAbandoned = 0x40;
}  // namespace header_flags

class Packetizer {
 public:
  explicit Packetizer(uint32_t packetUnit = 512) : unit_(packetUnit) {}

  void SetPacketUnit(uint32_t packetUnit) { unit_ = packetUnit; }
  uint32_t packetUnit() const { return unit_; }

  // Starts sending a frame; a frame still in flight is dropped without a trace.
  void BeginFrame(std::vector<uint8_t> data, uint32_t frameCounter);
  bool busy() const { return busy_; }
  void Cancel() { busy_ = false; }

  // Writes the next packet of the frame in flight, at most `maxPacket` bytes and the capacity,
  // into `buffer`; returns its length (0 when nothing can be sent: no frame, or a packet size too
  // small for one unit). *ended tells whether this packet ended the frame.
  uint32_t NextPacket(uint8_t* buffer, uint32_t capacity, uint32_t maxPacket, uint64_t interval,
                      bool* ended);
  // Writes the 12-byte packet that abandons the frame in flight (or a frame about to start) and
  // ends it; returns 12, or 0 when the buffer is too small.
  uint32_t AbandonFrame(uint8_t* buffer, uint32_t capacity, uint64_t interval);

 private:
  void WriteHeader(uint8_t* buffer, uint8_t flags, uint64_t interval) const;

  uint32_t unit_;
  std::vector<uint8_t> data_;
  size_t sent_ = 0;
  uint32_t frameCounter_ = 0;
  uint16_t packetNumber_ = 0;
  bool busy_ = false;
};

}  // namespace camencode
