// Frame building from packet lengths: which packets open, carry, close and drop a frame, and what
// the per-frame record says afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <vector>

#include "image/frame_builder.h"
#include "usbcamd.h"

namespace {

struct PacketOutcome {
  ULONG valid;
  ULONG offset;
  BOOLEAN frameComplete;
  ULONG flags;
};

class FrameBuilderTest : public testing::Test {
 protected:
  void SetUp() override {
    std::memset(context_, 0xAB, sizeof context_);
    StartFrameContext(context_, 0);
  }
  PacketOutcome Send(ULONG length) {
    USBD_ISO_PACKET_DESCRIPTOR packet = {0, length, USBD_STATUS_SUCCESS};
    PacketOutcome outcome = {0, 99, FALSE, 99};
    outcome.valid = ProcessFramePacket(&state_, context_, &packet, &outcome.frameComplete,
                                       &outcome.flags, &outcome.offset);
    return outcome;
  }
  FrameContext Record() const {
    FrameContext record;
    std::memcpy(&record, context_, sizeof record);
    return record;
  }

  FrameBuilderState state_ = {kDefaultHeaderPacketSize, 0};
  alignas(4) UCHAR context_[40];
};

TEST_F(FrameBuilderTest, NewFrameRecordIsSignedAndOtherwiseZero) {
  StartFrameContext(context_, 1);
  FrameContext record = Record();
  EXPECT_EQ(std::memcmp(context_, "VFTF", 4), 0);
  EXPECT_EQ(record.size, 40u);
  EXPECT_EQ(record.packets, 1u);
  EXPECT_EQ(record.completed, 1);
  EXPECT_EQ(record.ended, 0);
  EXPECT_EQ(record.still, 1);
  EXPECT_EQ(record.dropped, 0u);
  for (UCHAR byte : record.reserved1) EXPECT_EQ(byte, 0);
  StartFrameContext(nullptr, 0);  // no record: nothing to write
}

// One packet after another through the same stream state: (header size, packet length) and what
// the callback answers.
struct PacketCase {
  const char* what;
  ULONG headerPacketSize;
  std::vector<ULONG> before;  // packets sent first
  ULONG length;
  PacketOutcome expected;
  UCHAR inFrameAfter;
};
// Test names show the case, not its bytes.
void PrintTo(const PacketCase& value, std::ostream* os) { *os << value.what; }

class PacketTable : public FrameBuilderTest, public testing::WithParamInterface<PacketCase> {};

TEST_P(PacketTable, AnswersAsTheFrameRuleSays) {
  const PacketCase& c = GetParam();
  state_.headerPacketSize = c.headerPacketSize;
  for (ULONG length : c.before) Send(length);
  PacketOutcome outcome = Send(c.length);
  EXPECT_EQ(outcome.valid, c.expected.valid) << c.what;
  EXPECT_EQ(outcome.offset, c.expected.offset) << c.what;
  EXPECT_EQ(outcome.frameComplete, c.expected.frameComplete) << c.what;
  EXPECT_EQ(outcome.flags, c.expected.flags) << c.what;
  EXPECT_EQ(state_.inFrame, c.inFrameAfter) << c.what;
}

const ULONG kDrop = USBCAMD_PROCESSPACKETEX_DropFrame;

INSTANTIATE_TEST_SUITE_P(
    Lengths, PacketTable,
    testing::Values(
        PacketCase{"512 opens a frame", 512, {}, 512, {500, 12, TRUE, 0}, 1},
        PacketCase{"1024 opens a frame", 512, {}, 1024, {1012, 12, TRUE, 0}, 1},
        PacketCase{"1536 opens a frame", 512, {}, 1536, {1524, 12, TRUE, 0}, 1},
        PacketCase{"inside a frame no new start", 512, {512}, 1024, {1012, 12, FALSE, 0}, 1},
        PacketCase{"2048 is not a data length", 512, {512}, 2048, {2036, 12, FALSE, 0}, 0},
        PacketCase{"300 closes with its data", 512, {512, 1536}, 300, {288, 12, FALSE, 0}, 0},
        PacketCase{"after a close the next opens", 512, {512, 300}, 512, {500, 12, TRUE, 0}, 1},
        PacketCase{"12 drops", 512, {512}, 12, {0, 0, FALSE, kDrop}, 0},
        PacketCase{"0 is ignored", 512, {512}, 0, {0, 0, FALSE, 0}, 1},
        PacketCase{"header size 0: every packet ends", 0, {}, 512, {500, 12, FALSE, 0}, 0},
        PacketCase{"header size 4: short packets carry nothing", 4, {}, 8, {0, 0, TRUE, 0}, 1},
        PacketCase{"huge header size does not wrap", 0x80000000u, {}, 0, {0, 0, FALSE, 0}, 0}),
    [](const testing::TestParamInfo<PacketCase>& info) { return std::to_string(info.index); });

TEST_F(FrameBuilderTest, RecordCountsPacketsAndSaysHowTheFrameEnded) {
  Send(512);
  Send(1024);
  Send(300);
  FrameContext closed = Record();
  EXPECT_EQ(closed.packets, 4u);
  EXPECT_EQ(closed.ended, 1);
  EXPECT_EQ(closed.completed, 1);
  EXPECT_EQ(closed.dropped, 0u);

  StartFrameContext(context_, 0);
  Send(512);
  Send(12);
  FrameContext dropped = Record();
  EXPECT_EQ(dropped.packets, 3u);
  EXPECT_EQ(dropped.ended, 1);
  EXPECT_EQ(dropped.completed, 0);
  EXPECT_EQ(dropped.dropped, 1u);
}

TEST_F(FrameBuilderTest, MissingArgumentsAreTolerated) {
  USBD_ISO_PACKET_DESCRIPTOR packet = {0, 512, USBD_STATUS_SUCCESS};
  EXPECT_EQ(ProcessFramePacket(&state_, nullptr, &packet, nullptr, nullptr, nullptr), 500u);
  EXPECT_EQ(ProcessFramePacket(&state_, context_, nullptr, nullptr, nullptr, nullptr), 0u);
}

}  // namespace
