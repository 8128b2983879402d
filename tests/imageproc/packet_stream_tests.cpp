// Frame building on the camera's own packet streams: frames cut by the emulator's packetizer come
// back whole when the packets are read the way the framework reads them.
#include <gtest/gtest.h>

#include <vector>

#include "image/frame_builder.h"
#include "packetizer.h"
#include "usbcamd.h"

namespace {

struct Reassembly {
  std::vector<std::vector<uint8_t>> frames;  // every frame the framework would complete
  int dropped = 0;
};

// The framework's side: a packet flagged frame-complete closes the frame being filled and starts
// the next one with its own data; a drop flag throws the frame away.
class FrameworkReader {
 public:
  explicit FrameworkReader(ULONG headerPacketSize) : state_{headerPacketSize, 0} {}
  void Packet(const std::vector<uint8_t>& packet) {
    USBD_ISO_PACKET_DESCRIPTOR descriptor = {0, static_cast<ULONG>(packet.size()), 0};
    BOOLEAN complete = FALSE;
    ULONG flags = 0, offset = 0;
    ULONG valid = ProcessFramePacket(&state_, context_, &descriptor, &complete, &flags, &offset);
    if ((flags & USBCAMD_PROCESSPACKETEX_DropFrame) != 0) {
      ++result.dropped;
      current_.clear();
      open_ = false;
      return;
    }
    if (complete) {
      if (open_) result.frames.push_back(current_);
      current_.clear();
      open_ = true;
      StartFrameContext(context_, 0);
    }
    ASSERT_LE(offset + valid, packet.size());
    current_.insert(current_.end(), packet.begin() + offset, packet.begin() + offset + valid);
  }
  void Finish() {
    if (open_) result.frames.push_back(current_);
  }
  Reassembly result;

 private:
  FrameBuilderState state_;
  UCHAR context_[40] = {};
  std::vector<uint8_t> current_;
  bool open_ = false;
};

std::vector<uint8_t> FrameData(size_t length, uint8_t seed) {
  std::vector<uint8_t> data(length);
  for (size_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(seed + i * 7);
  return data;
}

// Frame lengths that end on a unit boundary, just past one, and in the middle of one.
class PacketStreamTest : public testing::TestWithParam<std::pair<uint32_t, size_t>> {};

TEST_P(PacketStreamTest, FramesComeBackWhole) {
  const auto [maxPacket, length] = GetParam();
  camencode::Packetizer packetizer(512);
  FrameworkReader reader(512);
  std::vector<std::vector<uint8_t>> sent;
  uint64_t bus = 0;
  for (uint8_t seed = 1; seed <= 3; ++seed) {
    sent.push_back(FrameData(length, seed));
    packetizer.BeginFrame(sent.back(), seed);
    bool ended = false;
    while (!ended) {
      std::vector<uint8_t> packet(4096);
      uint32_t size = packetizer.NextPacket(packet.data(), 4096, maxPacket, bus++, &ended);
      ASSERT_NE(size, 0u);
      packet.resize(size);
      reader.Packet(packet);
      reader.Packet({});  // an idle bus frame in between changes nothing
    }
  }
  reader.Finish();
  ASSERT_EQ(reader.result.frames.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    const std::vector<uint8_t>& got = reader.result.frames[i];
    ASSERT_GE(got.size(), sent[i].size());
    EXPECT_LE(got.size() - sent[i].size(), 1u) << "at most the one pad byte";
    EXPECT_TRUE(std::equal(sent[i].begin(), sent[i].end(), got.begin())) << "frame " << i;
  }
  EXPECT_EQ(reader.result.dropped, 0);
}

INSTANTIATE_TEST_SUITE_P(Lengths, PacketStreamTest,
                         testing::Values(std::pair<uint32_t, size_t>{512, 5000},
                                         std::pair<uint32_t, size_t>{1536, 5000},
                                         std::pair<uint32_t, size_t>{1024, 500 * 8},
                                         std::pair<uint32_t, size_t>{1536, 1524 * 3 + 1}));

TEST(PacketStream, AbandonedFrameIsDroppedAndTheNextSurvives) {
  camencode::Packetizer packetizer(512);
  FrameworkReader reader(512);
  std::vector<uint8_t> packet(4096);
  bool ended = false;
  packetizer.BeginFrame(FrameData(3000, 9), 1);
  uint32_t size = packetizer.NextPacket(packet.data(), 4096, 1024, 0, &ended);
  reader.Packet(std::vector<uint8_t>(packet.begin(), packet.begin() + size));
  size = packetizer.AbandonFrame(packet.data(), 4096, 1);
  reader.Packet(std::vector<uint8_t>(packet.begin(), packet.begin() + size));
  std::vector<uint8_t> next = FrameData(2000, 3);
  packetizer.BeginFrame(next, 2);
  for (uint64_t bus = 2; !ended; ++bus) {
    size = packetizer.NextPacket(packet.data(), 4096, 1024, bus, &ended);
    reader.Packet(std::vector<uint8_t>(packet.begin(), packet.begin() + size));
  }
  reader.Finish();
  EXPECT_EQ(reader.result.dropped, 1);
  ASSERT_EQ(reader.result.frames.size(), 1u);
  EXPECT_TRUE(std::equal(next.begin(), next.end(), reader.result.frames[0].begin()));
}

}  // namespace
