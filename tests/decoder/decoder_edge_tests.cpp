// The decoder's edge cases and malformed input, on both paths.
#include <gtest/gtest.h>

#include <random>

#include "decoder_test_support.h"

namespace decoder_test {
namespace {

using camjpeg::ChromaSampling;

class DecoderEdgeTest : public testing::TestWithParam<Path> {
 protected:
  std::vector<uint8_t> Encode(uint32_t width, uint32_t height, camjpeg::EncodeOptions options,
                              uint32_t seed = 1) {
    std::vector<uint8_t> picture = MakePicture(width, height, options.sampling, seed);
    std::string error;
    std::vector<uint8_t> frame =
        camjpeg::EncodePlanes(picture.data(), width, height, options, &error);
    EXPECT_FALSE(frame.empty()) << error;
    return frame;
  }
};

INSTANTIATE_TEST_SUITE_P(Paths, DecoderEdgeTest, testing::Values(Path::Plain, Path::Simd),
                         [](const testing::TestParamInfo<Path>& info) {
                           return PathName(info.param);
                         });

// A frame whose header leaves the line count to a DNL segment decodes as its twin with the count in
// the header: at the end of a whole MCU row, and with a last row only partly inside the picture.
TEST_P(DecoderEdgeTest, LineCountFromDnlSegment) {
  struct Case {
    uint32_t width, height;
    ChromaSampling sampling;
    uint32_t restartInterval;
  };
  for (const Case& c :
       {Case{64, 32, ChromaSampling::k422, 0}, Case{40, 37, ChromaSampling::k420, 0},
        Case{48, 24, ChromaSampling::k422, 3}}) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    camjpeg::EncodeOptions options;
    options.sampling = c.sampling;
    options.restartInterval = c.restartInterval;
    std::vector<uint8_t> normal = Encode(c.width, c.height, options);
    options.lineCountInDnl = true;
    std::vector<uint8_t> withDnl = Encode(c.width, c.height, options);
    size_t needed = camjpeg::PlaneSizesFor(c.width, c.height, c.sampling).TotalBytes();
    Decoder decoder(GetParam());
    std::vector<uint8_t> expected, actual;
    ASSERT_TRUE(decoder.Decode(normal, &expected, needed));
    // Until the count arrives the planes are laid out for whole MCU rows: room for two times the
    // planes, as the image processor gives, is plenty.
    ASSERT_TRUE(decoder.Decode(withDnl, &actual, 2 * needed, 0xA5));
    EXPECT_EQ(actual, expected);
  }
}

TEST_P(DecoderEdgeTest, FrameCutBeforeItsEndMarkerStillDecodes) {
  camjpeg::EncodeOptions options;
  std::vector<uint8_t> frame = Encode(48, 16, options);
  std::vector<uint8_t> cut(frame.begin(), frame.end() - 2);
  Decoder decoder(GetParam());
  std::vector<uint8_t> expected, actual;
  ASSERT_TRUE(decoder.Decode(frame, &expected, 48 * 16 * 2));
  ASSERT_TRUE(decoder.Decode(cut, &actual, 48 * 16 * 2));
  EXPECT_EQ(actual, expected);
}

// The camera's Huffman tables are fixed: a table segment in the stream is read past.
TEST_P(DecoderEdgeTest, HuffmanTableSegmentChangesNothing) {
  camjpeg::EncodeOptions options;
  std::vector<uint8_t> frame = Encode(48, 16, options);
  std::vector<uint8_t> changed = frame;
  // A luminance DC table of twelve 4-bit codes, unlike K.3.
  std::vector<uint8_t> segment = {0xFF, 0xC4, 0x00, 0x1F, 0x00};
  const uint8_t counts[16] = {0, 0, 0, 12};
  segment.insert(segment.end(), std::begin(counts), std::end(counts));
  for (uint8_t value = 0; value < 12; ++value) segment.push_back(value);
  changed.insert(changed.begin() + 2, segment.begin(), segment.end());
  Decoder decoder(GetParam());
  std::vector<uint8_t> expected, actual;
  ASSERT_TRUE(decoder.Decode(frame, &expected, 48 * 16 * 2));
  ASSERT_TRUE(decoder.Decode(changed, &actual, 48 * 16 * 2));
  EXPECT_EQ(actual, expected);
}

// A quantisation table segment replaces the table for its frame and every later one.
TEST_P(DecoderEdgeTest, QuantTableSegmentChangesLaterFrames) {
  uint8_t chroma[64];
  for (int i = 0; i < 64; ++i) chroma[i] = static_cast<uint8_t>(3 + i / 4);
  camjpeg::EncodeOptions options;
  options.lumaQuantTable = kBuiltInQuantTable0;
  options.chromaQuantTable = chroma;
  std::vector<uint8_t> withSegment = Encode(64, 32, options);
  options.writeTables = false;
  std::vector<uint8_t> withoutSegment = Encode(64, 32, options);
  size_t lumaBytes = 64 * 32;

  Decoder fresh(GetParam());
  std::vector<uint8_t> builtIn;
  ASSERT_TRUE(fresh.Decode(withoutSegment, &builtIn, 64 * 32 * 2));

  Decoder decoder(GetParam());
  std::vector<uint8_t> first, later;
  ASSERT_TRUE(decoder.Decode(withSegment, &first, 64 * 32 * 2));
  ASSERT_TRUE(decoder.Decode(withoutSegment, &later, 64 * 32 * 2));
  EXPECT_EQ(later, first);
  // The built-in table 0 is what the frames use for luminance; only chrominance changed.
  EXPECT_EQ(Compare(builtIn, first, 0, lumaBytes).maxDifference, 0);
  EXPECT_GT(Compare(builtIn, first, lumaBytes, lumaBytes).maxDifference, 0);
}

// A block whose last coefficient is non-zero ends without an end-of-block code.
TEST_P(DecoderEdgeTest, BlockWithoutEndOfBlockCode) {
  Mcu422 mcu;
  mcu.blocks[0][0] = 20;
  mcu.blocks[0][9] = -7;
  mcu.blocks[0][63] = 5;
  mcu.blocks[1][0] = -12;
  mcu.blocks[2][0] = 6;
  std::vector<uint8_t> frame = MakeFrame(mcu, 4);
  uint32_t width, height;
  ChromaSampling sampling;
  std::vector<uint8_t> reference =
      camjpeg::DecodePlanes(frame.data(), frame.size(), &width, &height, &sampling);
  ASSERT_EQ(reference.size(), 16u * 8 * 2);
  Decoder decoder(GetParam());
  std::vector<uint8_t> planes;
  ASSERT_TRUE(decoder.Decode(frame, &planes, reference.size()));
  EXPECT_EQ(planes, reference);

  mcu.blocks[0][63] = 0;
  std::vector<uint8_t> without;
  ASSERT_TRUE(decoder.Decode(MakeFrame(mcu, 4), &without, reference.size()));
  EXPECT_GT(Compare(planes, without, 0, 64).maxDifference, 0);
}

// Chrominance coefficients of -1 and 1 are dropped; luminance ones are kept.
TEST_P(DecoderEdgeTest, ChromaCoefficientOfOneContributesNothing) {
  Mcu422 flat;
  flat.blocks[0][0] = 3;
  flat.blocks[2][0] = 4;
  Mcu422 chromaOnes = flat;
  chromaOnes.blocks[2][1] = 1;   // Cb AC
  chromaOnes.blocks[3][8] = -1;  // Cr AC
  chromaOnes.blocks[3][0] = -1;  // Cr DC
  Mcu422 lumaOne = flat;
  lumaOne.blocks[0][1] = 1;
  Decoder decoder(GetParam());
  std::vector<uint8_t> base, chroma, luma;
  ASSERT_TRUE(decoder.Decode(MakeFrame(flat, 16), &base, 256));
  ASSERT_TRUE(decoder.Decode(MakeFrame(chromaOnes, 16), &chroma, 256));
  ASSERT_TRUE(decoder.Decode(MakeFrame(lumaOne, 16), &luma, 256));
  EXPECT_EQ(chroma, base);
  EXPECT_GT(Compare(luma, base, 0, 128).maxDifference, 0);
  EXPECT_EQ(Compare(luma, base, 128, 128).maxDifference, 0);
}

// With a restart interval of 4 MCUs, damage in the second interval costs exactly its MCUs: they
// keep what the buffer held, the rest decodes, and the call still fails.
TEST_P(DecoderEdgeTest, CorruptedIntervalResumesAtNextRestartMarker) {
  constexpr uint32_t kWidth = 48, kHeight = 32;  // 3 x 4 MCUs of 16 x 8
  constexpr uint8_t kOld = 0x5A;
  camjpeg::EncodeOptions options;
  options.restartInterval = 4;
  std::vector<uint8_t> clean = Encode(kWidth, kHeight, options);
  options.corruptInterval = 1;
  std::vector<uint8_t> damaged = Encode(kWidth, kHeight, options);
  Decoder decoder(GetParam());
  std::vector<uint8_t> expected, actual;
  ASSERT_TRUE(decoder.Decode(clean, &expected, kWidth * kHeight * 2));
  EXPECT_FALSE(decoder.Decode(damaged, &actual, kWidth * kHeight * 2, kOld));
  const uint32_t chromaWidth = kWidth / 2;
  for (uint32_t mcu = 0; mcu < 12; ++mcu) {
    bool skipped = mcu >= 4 && mcu < 8;
    uint32_t mcuX = mcu % 3, mcuY = mcu / 3;
    for (uint32_t y = mcuY * 8; y < mcuY * 8 + 8; ++y) {
      for (uint32_t x = mcuX * 16; x < mcuX * 16 + 16; ++x) {
        size_t at = y * kWidth + x;
        ASSERT_EQ(actual[at], skipped ? kOld : expected[at]) << "Y at " << x << "," << y;
      }
      for (uint32_t plane = 0; plane < 2; ++plane) {
        for (uint32_t x = mcuX * 8; x < mcuX * 8 + 8; ++x) {
          size_t at = kWidth * kHeight + plane * chromaWidth * kHeight + y * chromaWidth + x;
          ASSERT_EQ(actual[at], skipped ? kOld : expected[at]) << "chroma at " << x << "," << y;
        }
      }
    }
  }
}

// Only baseline frames: extended, progressive and lossless headers fail the frame.
TEST_P(DecoderEdgeTest, OtherFrameTypesFail) {
  std::vector<uint8_t> frame = Encode(32, 16, {});
  size_t sof = FindMarker(frame, 0xC0);
  ASSERT_NE(sof, std::string::npos);
  Decoder decoder(GetParam());
  for (uint8_t type : {0xC1, 0xC2, 0xC3, 0xC9}) {
    std::vector<uint8_t> other = frame;
    other[sof + 1] = type;
    std::vector<uint8_t> planes;
    EXPECT_FALSE(decoder.Decode(other, &planes, 32 * 16 * 2)) << std::hex << int{type};
  }
}

// Every prefix of a frame, in a buffer of exactly the planes' size: only the frame and the frame
// without its end marker decode; nothing reads or writes out of bounds (sanitizer builds).
TEST_P(DecoderEdgeTest, EveryTruncationFailsCleanly) {
  camjpeg::EncodeOptions options;
  options.sampling = ChromaSampling::k420;
  options.restartInterval = 2;
  std::vector<uint8_t> frame = Encode(40, 24, options);
  size_t needed = camjpeg::PlaneSizesFor(40, 24, options.sampling).TotalBytes();
  Decoder decoder(GetParam());
  for (size_t length = 0; length <= frame.size(); ++length) {
    std::vector<uint8_t> prefix(frame.begin(), frame.begin() + static_cast<ptrdiff_t>(length));
    std::vector<uint8_t> planes;
    EXPECT_EQ(decoder.Decode(prefix, &planes, needed), length + 2 >= frame.size())
        << "length " << length;
  }
}

// Headers that lie about their lengths, sizes or tables fail the frame.
TEST_P(DecoderEdgeTest, MalformedHeadersFail) {
  camjpeg::EncodeOptions options;
  options.restartInterval = 2;
  const std::vector<uint8_t> frame = Encode(32, 16, options);
  const size_t sof = FindMarker(frame, 0xC0), sos = FindMarker(frame, 0xDA);
  const size_t dqt = FindMarker(frame, 0xDB), dri = FindMarker(frame, 0xDD);
  const size_t app = FindMarker(frame, 0xE0);
  ASSERT_TRUE(sof != std::string::npos && sos != std::string::npos && dqt != std::string::npos &&
              dri != std::string::npos && app != std::string::npos);
  struct Mutation {
    const char* name;
    size_t at;
    uint8_t value;
    int bytes = 1;  // value written to this many bytes from at
  };
  const Mutation mutations[] = {
      {"frame header length", sof + 3, static_cast<uint8_t>(frame[sof + 3] + 1)},
      {"precision 12", sof + 4, 12},
      {"65535 lines", sof + 5, 0xFF, 2},
      {"no samples per line", sof + 7, 0, 2},
      {"no components", sof + 9, 0},
      {"component identifier 16", sof + 10, 16},
      {"sampling factor 0", sof + 11, 0x20},
      {"quantisation table 2", sof + 12, 2},
      {"scan header length", sos + 3, static_cast<uint8_t>(frame[sos + 3] - 1)},
      {"scan component not in the frame", sos + 5, 9},
      {"DC table 2", sos + 6, 0x20},
      {"AC table 2", sos + 6, 0x02},
      {"quantisation segment too short", dqt + 3, 3},
      {"quantisation table 3", dqt + 4, 0x03},
      {"16-bit quantisation table", dqt + 4, 0x10},
      {"restart segment length", dri + 3, 5},
      {"application segment length 1", app + 3, 1},
  };
  Decoder decoder(GetParam());
  for (const Mutation& mutation : mutations) {
    std::vector<uint8_t> bad = frame;
    for (int i = 0; i < mutation.bytes; ++i) bad[mutation.at + i] = mutation.value;
    std::vector<uint8_t> planes;
    EXPECT_FALSE(decoder.Decode(bad, &planes, 32 * 16 * 2)) << mutation.name;
  }
  std::vector<uint8_t> planes;
  EXPECT_TRUE(decoder.Decode(frame, &planes, 32 * 16 * 2));
  EXPECT_FALSE(decoder.Decode(frame, &planes, 32 * 16 * 2 - 1)) << "one byte short";
}

// Random damage anywhere in frames: the two paths agree on the answer and on every byte, and
// nothing is touched outside the buffers.
TEST(DecoderDamageTest, RandomDamageIsHandledAlikeOnBothPaths) {
  std::mt19937 random(20240611);
  Decoder plain(Path::Plain), simd(Path::Simd);
  for (int round = 0; round < 300; ++round) {
    camjpeg::EncodeOptions options;
    options.sampling = round % 2 == 0 ? ChromaSampling::k422 : ChromaSampling::k420;
    options.restartInterval = round % 3;
    options.lineCountInDnl = round % 5 == 0;
    uint32_t width = 8 + random() % 60, height = 8 + random() % 40;
    std::vector<uint8_t> picture = MakePicture(width, height, options.sampling, round);
    std::vector<uint8_t> frame = camjpeg::EncodePlanes(picture.data(), width, height, options);
    ASSERT_FALSE(frame.empty());
    int changes = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < changes; ++i)
      frame[random() % frame.size()] = static_cast<uint8_t>(random());
    size_t capacity = camjpeg::PlaneSizesFor(width, height, options.sampling).TotalBytes() +
                      (options.lineCountInDnl ? width * 16 * 2 : 0);
    std::vector<uint8_t> a, b;
    bool plainDecoded = plain.Decode(frame, &a, capacity, 0x11);
    bool simdDecoded = simd.Decode(frame, &b, capacity, 0x11);
    ASSERT_EQ(plainDecoded, simdDecoded) << "round " << round;
    ASSERT_EQ(a, b) << "round " << round;
  }
}

}  // namespace
}  // namespace decoder_test
