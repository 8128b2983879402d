// The fuzzer's seed corpus replayed in the normal run: every file decodes or fails without touching
// memory outside its buffers, alike on both paths.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "decoder_test_support.h"

namespace decoder_test {
namespace {

// The fuzz target's destination: room for the camera's largest frame sampled 4:2:2.
constexpr size_t kDestinationSize = 640 * 480 * 2;

TEST(DecoderCorpusTest, EveryCorpusFileDecodesSafely) {
  std::filesystem::path directory = CAM_DECODER_CORPUS_DIR;
  ASSERT_TRUE(std::filesystem::is_directory(directory)) << directory;
  Decoder plain(Path::Plain), simd(Path::Simd);
  size_t files = 0, decoded = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> frame((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    std::vector<uint8_t> a, b;
    bool plainDecoded = plain.Decode(frame, &a, kDestinationSize);
    bool simdDecoded = simd.Decode(frame, &b, kDestinationSize);
    EXPECT_EQ(plainDecoded, simdDecoded) << entry.path();
    EXPECT_EQ(a, b) << entry.path();
    ++files;
    decoded += plainDecoded ? 1 : 0;
  }
  EXPECT_GT(files, 0u);
  EXPECT_GT(decoded, 0u);
  RecordProperty("files", static_cast<int>(files));
  RecordProperty("decoded", static_cast<int>(decoded));
}

}  // namespace
}  // namespace decoder_test
