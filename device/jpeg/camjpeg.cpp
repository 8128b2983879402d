#include "camjpeg.h"

#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace camjpeg {
namespace {

constexpr uint32_t kMaxDimension = 65500;  // libjpeg's limit

// libjpeg reports errors through error_exit, which must not return: back to the caller's setjmp.
struct ErrorManager {
  jpeg_error_mgr manager;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr info) {
  ErrorManager* errors = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, errors->message);
  longjmp(errors->jump, 1);
}

void OutputNothing(j_common_ptr) {}

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

int VerticalFactor(ChromaSampling sampling) { return sampling == ChromaSampling::k420 ? 2 : 1; }

// A plane copied into a buffer of whole blocks, the last column and row repeated into the padding
// (libjpeg's raw interfaces work in whole MCU rows).
struct PaddedPlane {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> samples;
};

PaddedPlane Pad(const uint8_t* plane, uint32_t width, uint32_t height, uint32_t paddedWidth,
                uint32_t paddedHeight) {
  PaddedPlane padded{paddedWidth, paddedHeight,
                     std::vector<uint8_t>(size_t{paddedWidth} * paddedHeight)};
  for (uint32_t y = 0; y < paddedHeight; ++y) {
    const uint8_t* source = plane + size_t{y < height ? y : height - 1} * width;
    uint8_t* target = &padded.samples[size_t{y} * paddedWidth];
    memcpy(target, source, width);
    memset(target + width, source[width - 1], paddedWidth - width);
  }
  return padded;
}

size_t FindMarker(const std::vector<uint8_t>& frame, uint8_t code, size_t from = 0) {
  for (size_t i = from; i + 1 < frame.size(); ++i) {
    if (frame[i] == 0xFF && frame[i + 1] == code) return i;
  }
  return std::string::npos;
}

// Moves the line count of the frame header into a DNL segment right after the scan.
bool MoveLineCountToDnl(std::vector<uint8_t>& frame) {
  size_t sof = FindMarker(frame, 0xC0);
  size_t eoi = frame.size() >= 2 ? frame.size() - 2 : std::string::npos;
  if (sof == std::string::npos || sof + 7 > frame.size() || eoi == std::string::npos ||
      frame[eoi] != 0xFF || frame[eoi + 1] != 0xD9) {
    return false;
  }
  uint8_t high = frame[sof + 5], low = frame[sof + 6];
  frame[sof + 5] = 0;
  frame[sof + 6] = 0;
  const uint8_t dnl[] = {0xFF, 0xDC, 0x00, 0x04, high, low};
  frame.insert(frame.begin() + static_cast<ptrdiff_t>(eoi), std::begin(dnl), std::end(dnl));
  return true;
}

std::vector<uint8_t> Encode(const uint8_t* input, bool planar, uint32_t width, uint32_t height,
                            const EncodeOptions& options, std::string* error) {
  if (input == nullptr || width == 0 || height == 0 || width > kMaxDimension ||
      height > kMaxDimension) {
    SetError(error, "bad picture size");
    return {};
  }
  if ((options.lumaQuantTable == nullptr) != (options.chromaQuantTable == nullptr) ||
      (options.lumaQuantTable == nullptr && (options.quality < 1 || options.quality > 100))) {
    SetError(error, "give a quality of 1 to 100 or both quantisation tables");
    return {};
  }
  jpeg_compress_struct info;
  ErrorManager errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = ErrorExit;
  errors.manager.output_message = OutputNothing;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  // What changes between setjmp and a longjmp lives behind a pointer that does not.
  struct Work {
    std::vector<PaddedPlane> padded;
    std::vector<JSAMPROW> rows[3];
  };
  const std::unique_ptr<Work> work = std::make_unique<Work>();
  std::vector<PaddedPlane>& padded = work->padded;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_compress(&info);
    free(buffer);
    SetError(error, std::string("libjpeg: ") + errors.message);
    return {};
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = 3;
  info.in_color_space = planar ? JCS_YCbCr : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_colorspace(&info, JCS_YCbCr);
  info.comp_info[0].h_samp_factor = 2;
  info.comp_info[0].v_samp_factor = VerticalFactor(options.sampling);
  for (int c = 1; c < 3; ++c) {
    info.comp_info[c].h_samp_factor = 1;
    info.comp_info[c].v_samp_factor = 1;
  }
  if (options.lumaQuantTable != nullptr) {
    unsigned int luma[64], chroma[64];
    for (int i = 0; i < 64; ++i) {
      luma[i] = options.lumaQuantTable[i];
      chroma[i] = options.chromaQuantTable[i];
    }
    jpeg_add_quant_table(&info, 0, luma, 100, TRUE);
    jpeg_add_quant_table(&info, 1, chroma, 100, TRUE);
  } else {
    jpeg_set_quality(&info, options.quality, TRUE);
  }
  info.optimize_coding = FALSE;  // keep the Annex K tables
  info.dct_method = JDCT_ISLOW;
  info.restart_interval = options.restartInterval;
  info.raw_data_in = planar ? TRUE : FALSE;
  if (options.writeTables) {
    jpeg_start_compress(&info, TRUE);
  } else {
    jpeg_suppress_tables(&info, TRUE);
    jpeg_start_compress(&info, FALSE);
  }

  if (planar) {
    PlaneSizes sizes = PlaneSizesFor(width, height, options.sampling);
    uint32_t mcuRows = info.total_iMCU_rows;
    const uint8_t* plane = input;
    for (int c = 0; c < 3; ++c) {
      const jpeg_component_info& component = info.comp_info[c];
      uint32_t planeWidth = c == 0 ? sizes.lumaWidth : sizes.chromaWidth;
      uint32_t planeHeight = c == 0 ? sizes.lumaHeight : sizes.chromaHeight;
      uint32_t paddedWidth = info.MCUs_per_row * component.h_samp_factor * 8;
      uint32_t paddedHeight = mcuRows * component.v_samp_factor * 8;
      padded.push_back(Pad(plane, planeWidth, planeHeight, paddedWidth, paddedHeight));
      plane += size_t{planeWidth} * planeHeight;
    }
    int rowsPerPass = info.max_v_samp_factor * 8;
    std::vector<JSAMPROW>* rows = work->rows;
    for (uint32_t mcuRow = 0; mcuRow < mcuRows; ++mcuRow) {
      JSAMPARRAY arrays[3];
      for (int c = 0; c < 3; ++c) {
        int count = info.comp_info[c].v_samp_factor * 8;
        rows[c].resize(count);
        for (int r = 0; r < count; ++r) {
          rows[c][r] = &padded[c].samples[(size_t{mcuRow} * count + r) * padded[c].width];
        }
        arrays[c] = rows[c].data();
      }
      jpeg_write_raw_data(&info, arrays, rowsPerPass);
    }
  } else {
    while (info.next_scanline < info.image_height) {
      JSAMPROW row = const_cast<uint8_t*>(input) + size_t{info.next_scanline} * width * 3;
      jpeg_write_scanlines(&info, &row, 1);
    }
  }
  jpeg_finish_compress(&info);
  std::vector<uint8_t> frame(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  free(buffer);

  if (options.corruptInterval >= 0 &&
      (options.restartInterval == 0 || !CorruptRestartInterval(frame, options.corruptInterval))) {
    SetError(error, "no such restart interval to corrupt");
    return {};
  }
  if (options.lineCountInDnl && !MoveLineCountToDnl(frame)) {
    SetError(error, "frame has no header to move the line count from");
    return {};
  }
  return frame;
}

}  // namespace

// The interval's bytes become stuffed 0xFF bytes (0xFF 0x00 pairs): a run of one bits that no Annex
// K table decodes.
bool CorruptRestartInterval(std::vector<uint8_t>& frame, int interval) {
  size_t sos = FindMarker(frame, 0xDA);
  if (interval < 0 || sos == std::string::npos || sos + 4 > frame.size()) return false;
  size_t start = sos + 2 + (size_t{frame[sos + 2]} << 8 | frame[sos + 3]);
  int current = 0;
  for (size_t i = start; i + 1 < frame.size(); ++i) {
    if (frame[i] != 0xFF || frame[i + 1] == 0x00) continue;
    bool restart = frame[i + 1] >= 0xD0 && frame[i + 1] <= 0xD7;
    if (current == interval) {
      // In place, so that the frame keeps its length as a damaged transfer would (a frame cut to a
      // few bytes would no longer fill the packets that mark its start); an interval too short to
      // hold the run grows to it.
      static const uint8_t kBad[] = {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00};
      if (i - start < sizeof(kBad)) {
        frame.erase(frame.begin() + static_cast<ptrdiff_t>(start),
                    frame.begin() + static_cast<ptrdiff_t>(i));
        frame.insert(frame.begin() + static_cast<ptrdiff_t>(start), std::begin(kBad),
                     std::end(kBad));
        return true;
      }
      for (size_t at = start; at < i; ++at)
        frame[at] = (at - start) % 2 == 0 && at + 1 < i ? 0xFF : 0x00;
      return true;
    }
    if (!restart) return false;
    ++current;
    start = i + 2;
    ++i;
  }
  return false;
}

int CountRestartIntervals(const std::vector<uint8_t>& frame) {
  size_t sos = FindMarker(frame, 0xDA);
  if (sos == std::string::npos || sos + 4 > frame.size()) return 0;
  int count = 1;
  for (size_t i = sos + 2 + (size_t{frame[sos + 2]} << 8 | frame[sos + 3]); i + 1 < frame.size();
       ++i) {
    if (frame[i] == 0xFF && frame[i + 1] >= 0xD0 && frame[i + 1] <= 0xD7) ++count;
  }
  return count;
}

PlaneSizes PlaneSizesFor(uint32_t width, uint32_t height, ChromaSampling sampling) {
  PlaneSizes sizes;
  sizes.lumaWidth = width;
  sizes.lumaHeight = height;
  sizes.chromaWidth = (width + 1) / 2;
  sizes.chromaHeight = sampling == ChromaSampling::k420 ? (height + 1) / 2 : height;
  return sizes;
}

std::vector<uint8_t> EncodePlanes(const uint8_t* planes, uint32_t width, uint32_t height,
                                  const EncodeOptions& options, std::string* error) {
  return Encode(planes, true, width, height, options, error);
}

std::vector<uint8_t> EncodeRgb(const uint8_t* pixels, uint32_t width, uint32_t height,
                               const EncodeOptions& options, std::string* error) {
  return Encode(pixels, false, width, height, options, error);
}

std::vector<uint8_t> DecodePlanes(const uint8_t* frame, size_t length, uint32_t* width,
                                  uint32_t* height, ChromaSampling* sampling, std::string* error) {
  jpeg_decompress_struct info;
  ErrorManager errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = ErrorExit;
  errors.manager.output_message = OutputNothing;
  struct Work {
    std::vector<uint8_t> padded[3];
    std::vector<JSAMPROW> rows[3];
  };
  const std::unique_ptr<Work> work = std::make_unique<Work>();
  std::vector<uint8_t>* padded = work->padded;
  std::vector<JSAMPROW>* rows = work->rows;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&info);
    SetError(error, std::string("libjpeg: ") + errors.message);
    return {};
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, frame, static_cast<unsigned long>(length));
  jpeg_read_header(&info, TRUE);
  const jpeg_component_info* components = info.comp_info;
  bool shaped = info.num_components == 3 && components[0].h_samp_factor == 2 &&
                (components[0].v_samp_factor == 1 || components[0].v_samp_factor == 2);
  for (int c = 1; shaped && c < 3; ++c) {
    shaped = components[c].h_samp_factor == 1 && components[c].v_samp_factor == 1;
  }
  if (!shaped) {
    jpeg_destroy_decompress(&info);
    SetError(error, "not a 4:2:2 or 4:2:0 frame of three components");
    return {};
  }
  info.raw_data_out = TRUE;
  info.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&info);
  *width = info.image_width;
  *height = info.image_height;
  *sampling = info.max_v_samp_factor == 2 ? ChromaSampling::k420 : ChromaSampling::k422;
  uint32_t mcuRows = info.total_iMCU_rows;
  uint32_t paddedWidth[3];
  for (int c = 0; c < 3; ++c) {
    paddedWidth[c] = info.MCUs_per_row * components[c].h_samp_factor * 8;
    padded[c].resize(size_t{paddedWidth[c]} * mcuRows * components[c].v_samp_factor * 8);
  }
  for (uint32_t mcuRow = 0; mcuRow < mcuRows; ++mcuRow) {
    JSAMPARRAY arrays[3];
    for (int c = 0; c < 3; ++c) {
      int count = components[c].v_samp_factor * 8;
      rows[c].resize(count);
      for (int r = 0; r < count; ++r) {
        rows[c][r] = &padded[c][(size_t{mcuRow} * count + r) * paddedWidth[c]];
      }
      arrays[c] = rows[c].data();
    }
    jpeg_read_raw_data(&info, arrays, info.max_v_samp_factor * 8);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);

  PlaneSizes sizes = PlaneSizesFor(*width, *height, *sampling);
  std::vector<uint8_t> planes(sizes.TotalBytes());
  uint8_t* target = planes.data();
  for (int c = 0; c < 3; ++c) {
    uint32_t planeWidth = c == 0 ? sizes.lumaWidth : sizes.chromaWidth;
    uint32_t planeHeight = c == 0 ? sizes.lumaHeight : sizes.chromaHeight;
    for (uint32_t y = 0; y < planeHeight; ++y) {
      memcpy(target, &padded[c][size_t{y} * paddedWidth[c]], planeWidth);
      target += planeWidth;
    }
  }
  return planes;
}

}  // namespace camjpeg
