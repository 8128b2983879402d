// One 640 x 480 frame, 4:2:2 and 4:2:0, decoded five ways in one run: our plain and SIMD paths to
// planes, libjpeg-turbo to planes (jpeg_read_raw_data) and to 24-bit BGR, all with the accurate
// integer transform, and our SIMD decode followed by our conversion to 24-bit BGR (and that
// conversion alone, per routine set). The frames use the camera's built-in quantisation tables and
// the Annex K Huffman tables, with the table segments written so that libjpeg-turbo can read them.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "camjpeg.h"
#include "image/color_convert.h"
#include "image/color_tables.h"
#include "image/decoder.h"
#include "image/decoder_transform.h"
#include "jpeglib.h"

namespace {

constexpr uint32_t kWidth = 640, kHeight = 480;

// A picture with gradients and edges, plus sensor-like noise of +-noise levels: 0 gives a clean
// scene (many blocks of few coefficients), 3 a grainy one (every block busy).
std::vector<uint8_t> Picture(camjpeg::ChromaSampling sampling, int noise) {
  camjpeg::PlaneSizes sizes = camjpeg::PlaneSizesFor(kWidth, kHeight, sampling);
  std::vector<uint8_t> planes(sizes.TotalBytes());
  std::mt19937 random(1);
  uint8_t* out = planes.data();
  for (int c = 0; c < 3; ++c) {
    uint32_t w = c == 0 ? sizes.lumaWidth : sizes.chromaWidth;
    uint32_t h = c == 0 ? sizes.lumaHeight : sizes.chromaHeight;
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) {
        double wave = 50 * std::sin(x / 23.0 + c) * std::cos(y / 17.0);
        int edge = ((x / 40 + y / 30) % 2 == 0) ? 40 : 0;
        int grain = noise == 0 ? 0 : static_cast<int>(random() % (2 * noise + 1)) - noise;
        int value = 100 + static_cast<int>(wave) + edge + grain;
        *out++ = static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
      }
    }
  }
  return planes;
}

// The frame of the benchmark's arguments: sampling (422 or 420) and noise.
const std::vector<uint8_t>& Frame(const benchmark::State& state) {
  static std::vector<uint8_t> frames[2][4];
  camjpeg::ChromaSampling sampling =
      state.range(0) == 420 ? camjpeg::ChromaSampling::k420 : camjpeg::ChromaSampling::k422;
  int noise = static_cast<int>(state.range(1));
  std::vector<uint8_t>& frame = frames[state.range(0) == 420 ? 1 : 0][noise & 3];
  if (frame.empty()) {
    camjpeg::EncodeOptions options;
    options.sampling = sampling;
    options.lumaQuantTable = kBuiltInQuantTable0;
    options.chromaQuantTable = kBuiltInQuantTable1;
    frame = camjpeg::EncodePlanes(Picture(sampling, noise).data(), kWidth, kHeight, options);
  }
  return frame;
}

void DecodeOurs(benchmark::State& state, BOOLEAN simd) {
  const std::vector<uint8_t>& frame = Frame(state);
  DecoderState* decoder = nullptr;
  if (CreateDecoder(&decoder) != STATUS_SUCCESS ||
      InitDecoderTables(decoder, kBuiltInQuantTable0, kBuiltInQuantTable1, simd) !=
          STATUS_SUCCESS) {
    state.SkipWithError("no decoder");
    return;
  }
  std::vector<uint8_t> planes(kWidth * kHeight * 2);
  for (auto _ : state) {
    ULONG size = 0;
    bool decoded = DecodeFrame(decoder, frame.data(), static_cast<ULONG>(frame.size()),
                               planes.data(), static_cast<ULONG>(planes.size()), &size);
    if (!decoded) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(planes.data());
  }
  DestroyDecoder(decoder);
  state.SetItemsProcessed(state.iterations());
}

void BM_OursPlain(benchmark::State& state) { DecodeOurs(state, FALSE); }
void BM_OursSimd(benchmark::State& state) { DecodeOurs(state, TRUE); }

// What the capture path does with a frame: the SIMD decode to planes, then the planes to bottom-up
// 24-bit BGR; the counterpart of libjpeg-turbo's full decode below.
void BM_OursSimdToBgr(benchmark::State& state) {
  const std::vector<uint8_t>& frame = Frame(state);
  const bool fourTwoTwo = state.range(0) == 422;
  DecoderState* decoder = nullptr;
  if (CreateDecoder(&decoder) != STATUS_SUCCESS ||
      InitDecoderTables(decoder, kBuiltInQuantTable0, kBuiltInQuantTable1, TRUE) !=
          STATUS_SUCCESS) {
    state.SkipWithError("no decoder");
    return;
  }
  static DecodedColorTables tables;
  FillConversionTables(&tables);
  const ColorRoutines* routines = SelectColorRoutines(true);
  ConvertDecodedRoutine convert =
      fourTwoTwo ? routines->convertDecoded422 : routines->convertDecoded420;
  std::vector<uint8_t> planes(kWidth * kHeight * 2);
  std::vector<uint8_t> pixels(size_t{kWidth} * kHeight * 3);
  for (auto _ : state) {
    ULONG size = 0;
    if (!DecodeFrame(decoder, frame.data(), static_cast<ULONG>(frame.size()), planes.data(),
                     static_cast<ULONG>(planes.size()), &size) ||
        convert(kWidth, kHeight, planes.data(), size, pixels.data(),
                static_cast<ULONG>(pixels.size()), nullptr, 0, tables) == 0) {
      state.SkipWithError("decode or conversion failed");
    }
    benchmark::DoNotOptimize(pixels.data());
  }
  DestroyDecoder(decoder);
  state.SetItemsProcessed(state.iterations());
}

// The conversion alone, decoded planes to 24-bit BGR bottom-up, with each routine set the
// processor runs (argument: 0 plain, 1 SSE2, 2 AVX2) and each sampling.
void BM_ConvertDecoded(benchmark::State& state) {
  const ColorRoutines* routines =
      ColorRoutinesFor(static_cast<ColorRoutineSet>(static_cast<int>(state.range(0))));
  if (routines == nullptr) {
    state.SkipWithError("routine set not available here");
    return;
  }
  const bool fourTwoTwo = state.range(1) == 422;
  static DecodedColorTables tables;
  FillConversionTables(&tables);
  std::vector<uint8_t> planes(kWidth * kHeight * 2);
  std::mt19937 random(5);
  for (uint8_t& sample : planes) sample = static_cast<uint8_t>(random());
  const ULONG planeBytes = fourTwoTwo ? kWidth * kHeight * 2 : kWidth * kHeight * 3 / 2;
  std::vector<uint8_t> pixels(size_t{kWidth} * kHeight * 3);
  ConvertDecodedRoutine convert =
      fourTwoTwo ? routines->convertDecoded422 : routines->convertDecoded420;
  for (auto _ : state) {
    if (convert(kWidth, kHeight, planes.data(), planeBytes, pixels.data(),
                static_cast<ULONG>(pixels.size()), nullptr, 0, tables) == 0) {
      state.SkipWithError("conversion failed");
    }
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConvertDecoded)
    ->ArgNames({"set", "sampling"})
    ->ArgsProduct({{0, 1, 2}, {422, 420}})
    ->Unit(benchmark::kMicrosecond);

// libjpeg-turbo's planar output: whole MCU rows into padded plane buffers.
void BM_LibjpegTurboRaw(benchmark::State& state) {
  const std::vector<uint8_t>& frame = Frame(state);
  int vertical = state.range(0) == 420 ? 2 : 1;
  std::vector<uint8_t> planes[3];
  std::vector<JSAMPROW> rows[3];
  for (int c = 0; c < 3; ++c) {
    uint32_t width = c == 0 ? kWidth : kWidth / 2;
    uint32_t height = c == 0 ? kHeight : kHeight / vertical;
    planes[c].resize(size_t{width} * (height + 16));
    rows[c].resize(height + 16);
    for (uint32_t y = 0; y < height + 16; ++y) rows[c][y] = &planes[c][size_t{y} * width];
  }
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  for (auto _ : state) {
    jpeg_mem_src(&info, frame.data(), static_cast<unsigned long>(frame.size()));
    jpeg_read_header(&info, TRUE);
    info.raw_data_out = TRUE;
    info.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&info);
    int lumaRows = info.max_v_samp_factor * 8;
    while (info.output_scanline < info.output_height) {
      uint32_t row = info.output_scanline;
      JSAMPARRAY arrays[3] = {&rows[0][row], &rows[1][row / vertical], &rows[2][row / vertical]};
      jpeg_read_raw_data(&info, arrays, lumaRows);
    }
    jpeg_finish_decompress(&info);
    benchmark::DoNotOptimize(planes[0].data());
  }
  jpeg_destroy_decompress(&info);
  state.SetItemsProcessed(state.iterations());
}

// libjpeg-turbo's full decode with upsampling and colour conversion to 24-bit BGR.
void BM_LibjpegTurboBgr(benchmark::State& state) {
  const std::vector<uint8_t>& frame = Frame(state);
  std::vector<uint8_t> pixels(size_t{kWidth} * kHeight * 3);
  std::vector<JSAMPROW> rows(kHeight);
  for (uint32_t y = 0; y < kHeight; ++y) rows[y] = &pixels[size_t{y} * kWidth * 3];
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  for (auto _ : state) {
    jpeg_mem_src(&info, frame.data(), static_cast<unsigned long>(frame.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGR;
    info.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
      jpeg_read_scanlines(&info, &rows[info.output_scanline],
                          info.output_height - info.output_scanline);
    }
    jpeg_finish_decompress(&info);
    benchmark::DoNotOptimize(pixels.data());
  }
  jpeg_destroy_decompress(&info);
  state.SetItemsProcessed(state.iterations());
}

// The inverse transform alone, per 64 blocks of typical coefficients.
struct TransformBlocks {
  alignas(32) SHORT coefficients[64][64] = {};
  alignas(32) SHORT quant16[64];
  LONG quant32[64];
  UCHAR out[64 * 64];
  TransformBlocks() {
    std::mt19937 random(3);
    for (auto& block : coefficients) {
      for (int i = 0; i < 12; ++i) block[random() % 20] = static_cast<SHORT>(random() % 64) - 32;
    }
    for (int i = 0; i < 64; ++i) quant32[i] = quant16[i] = kBuiltInQuantTable0[i];
  }
};

void BM_TransformPlain(benchmark::State& state) {
  TransformBlocks blocks;
  for (auto _ : state) {
    for (int b = 0; b < 64; ++b) {
      InverseTransformPlain(blocks.coefficients[b], blocks.quant32, blocks.out + (b % 8) * 8, 64);
    }
    benchmark::DoNotOptimize(blocks.out);
  }
  state.SetItemsProcessed(state.iterations() * 64);
}

void BM_TransformSse2(benchmark::State& state) {
  TransformBlocks blocks;
  for (auto _ : state) {
    for (int b = 0; b < 64; ++b) {
      InverseTransformSse2(blocks.coefficients[b], blocks.quant16, blocks.out + (b % 8) * 8, 64);
    }
    benchmark::DoNotOptimize(blocks.out);
  }
  state.SetItemsProcessed(state.iterations() * 64);
}

void BM_TransformAvx2Pairs(benchmark::State& state) {
  if (!__builtin_cpu_supports("avx2")) {
    state.SkipWithError("no AVX2");
    return;
  }
  TransformBlocks blocks;
  for (auto _ : state) {
    for (int b = 0; b < 64; b += 2) {
      InverseTransformPairAvx2(blocks.coefficients[b], blocks.quant16, blocks.out + (b % 8) * 8, 64,
                               blocks.coefficients[b + 1], blocks.quant16,
                               blocks.out + (b % 8) * 8 + 8, 64);
    }
    benchmark::DoNotOptimize(blocks.out);
  }
  state.SetItemsProcessed(state.iterations() * 64);
}

BENCHMARK(BM_TransformPlain);
BENCHMARK(BM_TransformSse2);
BENCHMARK(BM_TransformAvx2Pairs);

// Arguments: the frame's sampling (422 or 420) and the picture's noise (0 clean, 3 grainy).
void Frames(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgNames({"sampling", "noise"});
  for (int sampling : {422, 420}) {
    for (int noise : {0, 3}) benchmark->Args({sampling, noise});
  }
  benchmark->Unit(benchmark::kMicrosecond);
}
BENCHMARK(BM_OursPlain)->Apply(Frames);
BENCHMARK(BM_OursSimd)->Apply(Frames);
BENCHMARK(BM_LibjpegTurboRaw)->Apply(Frames);
BENCHMARK(BM_LibjpegTurboBgr)->Apply(Frames);
BENCHMARK(BM_OursSimdToBgr)->Apply(Frames);

}  // namespace

BENCHMARK_MAIN();
