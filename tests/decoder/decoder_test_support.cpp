#include "decoder_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "image/decoder_huffman.h"
#include "jpeglib.h"

namespace decoder_test {

Decoder::Decoder(Path path) {
  EXPECT_EQ(CreateDecoder(&state_), STATUS_SUCCESS);
  EXPECT_EQ(InitDecoderTables(state_, kBuiltInQuantTable0, kBuiltInQuantTable1,
                              path == Path::Simd ? TRUE : FALSE),
            STATUS_SUCCESS);
}

Decoder::~Decoder() { DestroyDecoder(state_); }

bool Decoder::Decode(const std::vector<uint8_t>& frame, std::vector<uint8_t>* planes,
                     size_t capacity, uint8_t fill) {
  planes->assign(capacity, fill);
  ULONG outputSize = 0xDEADBEEF;
  bool decoded = DecodeFrame(state_, frame.data(), static_cast<ULONG>(frame.size()), planes->data(),
                             static_cast<ULONG>(capacity), &outputSize);
  if (decoded) {
    EXPECT_LE(outputSize, capacity);
    planes->resize(outputSize);
  }
  return decoded;
}

std::vector<uint8_t> MakePicture(uint32_t width, uint32_t height, camjpeg::ChromaSampling sampling,
                                 uint32_t seed) {
  camjpeg::PlaneSizes sizes = camjpeg::PlaneSizesFor(width, height, sampling);
  std::vector<uint8_t> planes(sizes.TotalBytes());
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> noise(-12, 12);
  uint8_t* out = planes.data();
  for (int c = 0; c < 3; ++c) {
    uint32_t w = c == 0 ? sizes.lumaWidth : sizes.chromaWidth;
    uint32_t h = c == 0 ? sizes.lumaHeight : sizes.chromaHeight;
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) {
        double wave = 60 * std::sin((x + 7.0 * c) / (5.0 + c)) * std::cos(y / 9.0);
        int edge = ((x / 11 + y / 7) % 3 == 0) ? 50 : 0;
        int value = 110 + static_cast<int>(wave) + edge + noise(random);
        *out++ = static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
      }
    }
  }
  return planes;
}

PlaneDifference Compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t offset,
                        size_t size) {
  PlaneDifference result;
  double squared = 0;
  for (size_t i = offset; i < offset + size; ++i) {
    int difference = std::abs(int{a[i]} - int{b[i]});
    result.maxDifference = std::max(result.maxDifference, difference);
    squared += double(difference) * difference;
  }
  result.psnr = squared == 0 ? std::numeric_limits<double>::infinity()
                             : 10 * std::log10(255.0 * 255.0 * size / squared);
  return result;
}

namespace {

constexpr uint8_t kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

struct Code {
  uint32_t bits = 0;
  int length = 0;
};
using CodeTable = std::array<Code, 256>;

// The codes of the four Annex K tables: DC 0, DC 1, AC 0, AC 1.
std::array<CodeTable, 4> AnnexKCodes() {
  std::array<CodeTable, 4> tables;
  size_t offset = 0;
  for (int t = 0; t < 4; ++t) {
    uint8_t classAndId = kAnnexKHuffmanSegments[offset];
    CodeTable& table = tables[(classAndId >> 4) * 2 + (classAndId & 15)];
    const uint8_t* counts = &kAnnexKHuffmanSegments[offset + 1];
    const uint8_t* values = counts + 16;
    uint32_t code = 0;
    size_t index = 0;
    for (int length = 1; length <= 16; ++length) {
      for (int i = 0; i < counts[length - 1]; ++i) table[values[index++]] = {code++, length};
      code <<= 1;
    }
    offset += 17 + index;
  }
  return tables;
}

class BitWriter {
 public:
  void Put(uint32_t bits, int length) {
    for (int i = length - 1; i >= 0; --i) {
      current_ = static_cast<uint8_t>(current_ << 1 | ((bits >> i) & 1));
      if (++count_ == 8) Flush();
    }
  }
  std::vector<uint8_t> Finish() {
    while (count_ != 0) Put(1, 1);
    return bytes_;
  }

 private:
  void Flush() {
    bytes_.push_back(current_);
    if (current_ == 0xFF) bytes_.push_back(0x00);
    current_ = 0;
    count_ = 0;
  }
  std::vector<uint8_t> bytes_;
  uint8_t current_ = 0;
  int count_ = 0;
};

int Category(int value) {
  int magnitude = std::abs(value), size = 0;
  while (magnitude != 0) {
    ++size;
    magnitude >>= 1;
  }
  return size;
}

void PutValue(BitWriter& writer, int value, int size) {
  if (size == 0) return;
  writer.Put(static_cast<uint32_t>(value < 0 ? value + (1 << size) - 1 : value), size);
}

void EncodeBlock(BitWriter& writer, const Block& block, int* predictor, const CodeTable& dc,
                 const CodeTable& ac) {
  int difference = block[0] - *predictor;
  *predictor = block[0];
  int size = Category(difference);
  writer.Put(dc[size].bits, dc[size].length);
  PutValue(writer, difference, size);
  int run = 0;
  for (int k = 1; k < 64; ++k) {
    int value = block[kZigZag[k]];
    if (value == 0) {
      ++run;
      continue;
    }
    while (run > 15) {
      writer.Put(ac[0xF0].bits, ac[0xF0].length);
      run -= 16;
    }
    size = Category(value);
    int symbol = run << 4 | size;
    writer.Put(ac[symbol].bits, ac[symbol].length);
    PutValue(writer, value, size);
    run = 0;
  }
  if (run != 0) writer.Put(ac[0x00].bits, ac[0x00].length);
}

}  // namespace

std::vector<uint8_t> MakeFrame(const Mcu422& mcu, uint8_t quantValue) {
  static const std::array<CodeTable, 4> codes = AnnexKCodes();
  std::vector<uint8_t> frame = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x84, 0x00};
  frame.insert(frame.end(), 64, quantValue);
  frame.push_back(0x01);
  frame.insert(frame.end(), 64, quantValue);
  const uint8_t header[] = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x08, 0x00, 0x10, 0x03, 0x01,
                            0x21, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01, 0xFF, 0xDA, 0x00,
                            0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
  frame.insert(frame.end(), std::begin(header), std::end(header));
  BitWriter writer;
  int predictors[3] = {0, 0, 0};
  for (int b = 0; b < 4; ++b) {
    int component = b < 2 ? 0 : b - 1;
    int table = component == 0 ? 0 : 1;
    EncodeBlock(writer, mcu.blocks[b], &predictors[component], codes[table], codes[2 + table]);
  }
  std::vector<uint8_t> data = writer.Finish();
  frame.insert(frame.end(), data.begin(), data.end());
  frame.push_back(0xFF);
  frame.push_back(0xD9);
  return frame;
}

std::vector<uint8_t> WithSmallChromaCleared(const std::vector<uint8_t>& frame) {
  // libjpeg's standard error handler ends the process: these are frames the suite just made.
  jpeg_error_mgr errors;
  jpeg_decompress_struct in;
  in.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&in);
  jpeg_mem_src(&in, frame.data(), static_cast<unsigned long>(frame.size()));
  jpeg_read_header(&in, TRUE);
  jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&in);
  for (int c = 1; c < in.num_components; ++c) {
    const jpeg_component_info& component = in.comp_info[c];
    for (JDIMENSION row = 0; row < component.height_in_blocks; ++row) {
      JBLOCKARRAY blocks = in.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&in),
                                                      coefficients[c], row, 1, TRUE);
      for (JDIMENSION column = 0; column < component.width_in_blocks; ++column) {
        for (JCOEF& value : blocks[0][column]) {
          if (value >= -1 && value <= 1) value = 0;
        }
      }
    }
  }
  jpeg_compress_struct out;
  out.err = jpeg_std_error(&errors);
  jpeg_create_compress(&out);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&out, &buffer, &size);
  jpeg_copy_critical_parameters(&in, &out);
  out.optimize_coding = FALSE;
  jpeg_write_coefficients(&out, coefficients);
  jpeg_finish_compress(&out);
  jpeg_finish_decompress(&in);
  jpeg_destroy_decompress(&in);
  std::vector<uint8_t> cleared(buffer, buffer + size);
  jpeg_destroy_compress(&out);
  free(buffer);
  return cleared;
}

size_t FindMarker(const std::vector<uint8_t>& frame, uint8_t code) {
  for (size_t i = 0; i + 1 < frame.size(); ++i) {
    if (frame[i] == 0xFF && frame[i + 1] == code) return i;
  }
  return std::string::npos;
}

}  // namespace decoder_test
