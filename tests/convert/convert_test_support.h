// Frames and routine tables shared by the colour conversion suites.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "image/color_convert.h"

namespace convert_test {

using Bytes = std::vector<UCHAR>;

// Every routine set this processor runs, plain first.
inline std::vector<const ColorRoutines*> AvailableRoutines() {
  std::vector<const ColorRoutines*> sets;
  for (ColorRoutineSet set :
       {ColorRoutineSet::Plain, ColorRoutineSet::Sse2, ColorRoutineSet::Avx2}) {
    if (const ColorRoutines* routines = ColorRoutinesFor(set)) sets.push_back(routines);
  }
  return sets;
}

inline std::vector<const ColorRoutines*> SimdRoutines() {
  std::vector<const ColorRoutines*> sets = AvailableRoutines();
  sets.erase(sets.begin());
  return sets;
}

inline std::string RoutineName(const testing::TestParamInfo<const ColorRoutines*>& info) {
  return info.param->name;
}

inline Bytes RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 generator(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  Bytes bytes(count);
  for (UCHAR& value : bytes) value = static_cast<UCHAR>(byte(generator));
  return bytes;
}

// A packed frame of whole pairs in which every pair is (y0, u, y1, v).
inline Bytes UniformPacked(ULONG width, ULONG height, UCHAR y0, UCHAR u, UCHAR y1, UCHAR v) {
  Bytes frame(size_t{PackedRowBytes(width)} * height);
  for (size_t i = 0; i < frame.size(); i += 4) {
    frame[i] = y0, frame[i + 1] = u, frame[i + 2] = y1, frame[i + 3] = v;
  }
  return frame;
}

// Exactly the bytes the call may write, so that the address sanitizer stops any write beyond them.
inline Bytes OutputFor(ULONG compression, ULONG width, ULONG height, UCHAR fill = 0xA5) {
  return Bytes(static_cast<size_t>(OutputImageBytes(compression, width, height)), fill);
}

inline ULONG ConvertYuv(const ColorRoutines& routines, const Bytes& source, Bytes& destination,
                        ULONG width, ULONG height, ULONG compression, ULONG sourceWidth = 0,
                        ULONG sourceHeight = 0, const YuvConversionSettings& settings = {}) {
  return routines.convertYuv422(source.data(), static_cast<ULONG>(source.size()),
                                destination.data(), static_cast<ULONG>(destination.size()), width,
                                height, compression, sourceWidth == 0 ? width : sourceWidth,
                                sourceHeight == 0 ? height : sourceHeight, settings);
}

// Largest difference between two equally long byte runs.
inline int MaxDifference(const Bytes& a, const Bytes& b) {
  EXPECT_EQ(a.size(), b.size());
  int largest = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    largest = std::max(largest, std::abs(int{a[i]} - int{b[i]}));
  }
  return largest;
}

}  // namespace convert_test
