// The emulated camera's default picture as the end-to-end tests expect it back: eight vertical
// bars of equal width, left to right white, yellow, cyan, green, magenta, red, blue, black, each
// channel 0 or 140 so that every output path carries them without clipping.
#pragma once

#include <array>

namespace colour_bars {

// Red, green, blue of each bar, left to right.
constexpr std::array<std::array<int, 3>, 8> kBars = {{{140, 140, 140},
                                                      {140, 140, 0},
                                                      {0, 140, 140},
                                                      {0, 140, 0},
                                                      {140, 0, 140},
                                                      {140, 0, 0},
                                                      {0, 0, 140},
                                                      {0, 0, 0}}};

}  // namespace colour_bars
