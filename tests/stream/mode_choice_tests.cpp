// How a format orders its modes and brings one up for a requested frame rate: the fastest mode at
// or below the rate whose alternate setting the bus grants, slower ones when it refuses, and the
// slowest once more when nothing else could be had.
#include "stream_test_support.h"

namespace {

// A format offering 5 to 30 fps with modes at 30, 15 and 5 fps on alternate settings 3, 2 and 1,
// enumerated in another order than their rates.
struct ThreeModeFormat {
  explicit ThreeModeFormat(StreamTestRoot& root)
      : format(root, 320, 240, 24, 0, 30000, 5000, 30000) {
    format->modes = PointerList::Create(root.pool());
    const std::pair<ULONG, UCHAR> modes[] = {{15000, 2}, {5000, 1}, {30000, 3}};
    for (const auto& [rate, setting] : modes) {
      format->modes->Prepend(MakeMode(root, format.format, rate, setting, 2));
    }
    format->SortModes(format->modes);
  }
  ScopedFormat format;
};

class ModeChoice : public testing::Test {
 protected:
  // Requests the format at an interval; returns the status and the frame rate of the mode that
  // became current (0 without one).
  NTSTATUS Select(LONGLONG interval, ULONG* modeRate) {
    KS_DATAFORMAT_VIDEOINFOHEADER request = RequestFor(*format->GetDataRange(), interval);
    const NTSTATUS status = format->SelectFormat(&request);
    IFormatMode* mode = format->GetCurrentMode();
    *modeRate = mode != nullptr ? mode->GetFrameRate() : 0;
    return status;
  }

  StreamTestRoot root;
  ThreeModeFormat modes{root};
  ScopedFormat& format = modes.format;
};

TEST(ModeFallBack, SlowerModesAsTheBusRefusesBandwidth) {
  struct Case {
    const char* what;
    LONGLONG interval;
    std::initializer_list<UCHAR> refused;
    std::vector<UCHAR> asked;
    NTSTATUS status;
    ULONG modeRate;
    UCHAR bandwidthFailed;
  } cases[] = {
      {"20 fps takes the 15 fps mode", 500000, {}, {2}, STATUS_SUCCESS, 15000, 0},
      {"15 fps refused: 5 fps", 500000, {2}, {2, 1}, STATUS_SUCCESS, 5000, 1},
      {"all refused: 5 fps once more", 500000, {2, 1}, {2, 1, 1}, ScriptedCamera::kRefusal, 0, 1},
      {"60 fps is clamped to 30 fps", 166666, {}, {3}, STATUS_SUCCESS, 30000, 0},
      {"1 fps is clamped to 5 fps", 10000000, {}, {1}, STATUS_SUCCESS, 5000, 0},
  };
  for (const Case& c : cases) {
    StreamTestRoot root;
    ThreeModeFormat three(root);
    VideoFormat* format = three.format.format;
    root.Refuse(c.refused);
    KS_DATAFORMAT_VIDEOINFOHEADER request = RequestFor(*format->GetDataRange(), c.interval);
    EXPECT_EQ(format->SelectFormat(&request), c.status) << c.what;
    EXPECT_EQ(root.Asked(), c.asked) << c.what;
    IFormatMode* mode = format->GetCurrentMode();
    EXPECT_EQ(mode != nullptr ? mode->GetFrameRate() : 0, c.modeRate) << c.what;
    EXPECT_EQ(format->GetBandwidthFailed(), c.bandwidthFailed) << c.what;
    EXPECT_EQ(format->IsApplied(), NT_SUCCESS(c.status) ? 1 : 0) << c.what;
  }
}

TEST_F(ModeChoice, ReselectionWritesTheModeAgainAndDeactivateClearsIt) {
  ULONG rate = 0;
  ASSERT_EQ(Select(333333, &rate), STATUS_SUCCESS);
  IFormatMode* first = format->GetCurrentMode();
  EXPECT_EQ(first->IsApplied(), 1);
  ASSERT_EQ(Select(2000000, &rate), STATUS_SUCCESS);
  EXPECT_EQ(rate, 5000u);
  EXPECT_EQ(first->IsApplied(), 0);
  EXPECT_EQ(format->GetCurrentMode()->IsApplied(), 1);

  EXPECT_EQ(format->Deactivate(), STATUS_SUCCESS);
  EXPECT_EQ(format->IsApplied(), 0);
  EXPECT_EQ(format->GetCurrentMode()->IsApplied(), 0);
  // Power-up brings the same mode back without asking the bus again.
  const size_t asked = root.Asked().size();
  EXPECT_EQ(format->Activate(), STATUS_SUCCESS);
  EXPECT_EQ(format->IsApplied(), 1);
  EXPECT_EQ(format->GetCurrentMode()->GetFrameRate(), 5000u);
  EXPECT_EQ(root.Asked().size(), asked);
}

TEST_F(ModeChoice, AFormatThatIsNotAskedForIsRefused) {
  KS_DATAFORMAT_VIDEOINFOHEADER request = RequestFor(*format->GetDataRange(), 333333);
  request.VideoInfoHeader.bmiHeader.biHeight = 480;
  EXPECT_EQ(format->SelectFormat(&request), STATUS_INVALID_PARAMETER);
  EXPECT_TRUE(root.Asked().empty());
}

// Frame rates of the list from head to tail, with the quality of each mode.
std::vector<std::pair<ULONG, ULONG>> RatesAndQualities(PointerList* modes) {
  std::vector<std::pair<ULONG, ULONG>> order;
  modes->Rewind();
  while (void* item = modes->Next()) {
    auto* mode = static_cast<IFormatMode*>(item);
    order.emplace_back(mode->GetFrameRate(), mode->GetQualityLevel());
  }
  return order;
}

TEST(ModeOrder, FastestFirstWithEqualRatesOrderedByTheBandwidthRule) {
  using Order = std::vector<std::pair<ULONG, ULONG>>;
  struct Case {
    ULONG rule;
    Order expected;
  } cases[] = {
      // Rule 1 tries the better quality of two equal rates first; any other rule the lower.
      {1, Order{{15000, 3}, {15000, 1}, {5000, 2}, {0, 2}}},
      {0, Order{{15000, 1}, {15000, 3}, {5000, 2}, {0, 2}}},
      {2, Order{{15000, 1}, {15000, 3}, {5000, 2}, {0, 2}}},
  };
  for (const Case& c : cases) {
    StreamTestRoot root;
    root.camera().bandwidthAllocateRule = c.rule;
    ScopedFormat format(root, 320, 240, 24, 0, 30000, 5000, 30000);
    format->modes = PointerList::Create(root.pool());
    // A mode without a frame rate is always a candidate, and the last one.
    const std::pair<ULONG, ULONG> modes[] = {{15000, 1}, {0, 2}, {5000, 2}, {15000, 3}};
    for (const auto& [rate, quality] : modes) {
      format->modes->Prepend(MakeMode(root, format.format, rate, 1, quality));
    }
    EXPECT_EQ(format->SortModes(format->modes), STATUS_SUCCESS);
    EXPECT_EQ(RatesAndQualities(format->modes), c.expected) << "rule " << c.rule;
  }
}

}  // namespace
