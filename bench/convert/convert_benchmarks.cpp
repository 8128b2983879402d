// Packed YUV 4:2:2 ('YUY2') to 24-bit RGB at 640 x 480: our plain and SIMD routines, and the same
// frame through libyuv (YUY2ToARGB then ARGBToRGB24) and OpenCV (cvtColor) when they are built in.
// One iteration converts one frame, so the reported time is the time per frame.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "image/color_convert.h"

#if defined(BENCH_WITH_LIBYUV)
#include <libyuv.h>
#endif
#if defined(BENCH_WITH_OPENCV)
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr ULONG kWidth = 640;
constexpr ULONG kHeight = 480;

const std::vector<UCHAR>& PackedFrame() {
  static const std::vector<UCHAR> frame = [] {
    std::mt19937 generator(42);
    std::vector<UCHAR> bytes(size_t{kWidth} * kHeight * 2);
    for (UCHAR& byte : bytes) byte = static_cast<UCHAR>(generator());
    return bytes;
  }();
  return frame;
}

void PackedToRgb24(benchmark::State& state, ColorRoutineSet set) {
  const ColorRoutines* routines = ColorRoutinesFor(set);
  if (routines == nullptr) {
    state.SkipWithError("this processor lacks the instruction set");
    return;
  }
  const std::vector<UCHAR>& source = PackedFrame();
  std::vector<UCHAR> rgb(size_t{kWidth} * kHeight * 3);
  WhiteBalanceStatistics statistics{};
  const YuvConversionSettings settings{0, false, &statistics};
  for (auto _ : state) {
    const ULONG produced =
        routines->convertYuv422(source.data(), static_cast<ULONG>(source.size()), rgb.data(),
                                static_cast<ULONG>(rgb.size()), kWidth, kHeight, kCompressionRgb24,
                                kWidth, kHeight, settings);
    benchmark::DoNotOptimize(produced);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());  // frames
}
BENCHMARK_CAPTURE(PackedToRgb24, plain, ColorRoutineSet::Plain);
BENCHMARK_CAPTURE(PackedToRgb24, sse2, ColorRoutineSet::Sse2);
BENCHMARK_CAPTURE(PackedToRgb24, avx2, ColorRoutineSet::Avx2);

#if defined(BENCH_WITH_LIBYUV)
void PackedToRgb24_libyuv_two_calls(benchmark::State& state) {
  const std::vector<UCHAR>& source = PackedFrame();
  std::vector<UCHAR> argb(size_t{kWidth} * kHeight * 4);
  std::vector<UCHAR> rgb(size_t{kWidth} * kHeight * 3);
  for (auto _ : state) {
    libyuv::YUY2ToARGB(source.data(), kWidth * 2, argb.data(), kWidth * 4, kWidth, kHeight);
    libyuv::ARGBToRGB24(argb.data(), kWidth * 4, rgb.data(), kWidth * 3, kWidth, kHeight);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(PackedToRgb24_libyuv_two_calls);
#endif

#if defined(BENCH_WITH_OPENCV)
void PackedToRgb24_opencv_cvtColor(benchmark::State& state) {
  std::vector<UCHAR> source = PackedFrame();
  const cv::Mat packed(kHeight, kWidth, CV_8UC2, source.data());
  cv::Mat bgr(kHeight, kWidth, CV_8UC3);
  for (auto _ : state) {
    cv::cvtColor(packed, bgr, cv::COLOR_YUV2BGR_YUY2);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(PackedToRgb24_opencv_cvtColor);
#endif

// The decoded 4:2:2 planes of the compressed modes, for scale.
void Decoded422ToRgb24(benchmark::State& state, ColorRoutineSet set) {
  const ColorRoutines* routines = ColorRoutinesFor(set);
  if (routines == nullptr) {
    state.SkipWithError("this processor lacks the instruction set");
    return;
  }
  const std::vector<UCHAR> planes(PackedFrame());  // Y, Cb and Cr planes of 4:2:2: 2 x w x h bytes
  std::vector<UCHAR> rgb(size_t{kWidth} * kHeight * 3);
  DecodedColorTables tables;
  FillConversionTables(&tables);
  for (auto _ : state) {
    const ULONG produced = routines->convertDecoded422(
        kWidth, kHeight, planes.data(), static_cast<ULONG>(planes.size()), rgb.data(),
        static_cast<ULONG>(rgb.size()), nullptr, 0, tables);
    benchmark::DoNotOptimize(produced);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(Decoded422ToRgb24, plain, ColorRoutineSet::Plain);
BENCHMARK_CAPTURE(Decoded422ToRgb24, sse2, ColorRoutineSet::Sse2);

}  // namespace

BENCHMARK_MAIN();
