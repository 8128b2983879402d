#include "video_source.h"

#include <algorithm>
#include <cmath>

#include "frame_encoders.h"
#include "jpeg_frames.h"

namespace camemu {
namespace {

constexpr uint32_t kCorruptedBytesPerFrame = 8;

bool Streaming(const Bridge& bridge) {
  uint8_t system = bridge.Peek(bridge_reg::kSystem);
  return (system & bridge_bits::kSystemEnable) && (system & bridge_bits::kSensorPower) &&
         !(system & bridge_bits::kSuspend) &&
         (bridge.Peek(bridge_reg::kVideo) & bridge_bits::kVideoEnable);
}

// Microseconds between frame starts; 0 lets frames follow each other as fast as the bus allows.
uint64_t FramePeriodUs(const Bridge& bridge) {
  uint32_t rate = bridge.Peek(bridge_reg::kFrameRate);
  if (rate == 0) return 0;
  return 1000000ull * bridge.sensor().Picture(100).clockDivider / rate;
}

// The sensor's exposure, gains and brightness applied to the scene; returns the mean luma.
uint8_t ExposePicture(const campattern::RgbImage& scene, const SensorPicture& sensor,
                      campattern::RgbImage* out) {
  out->width = scene.width;
  out->height = scene.height;
  out->pixels.resize(scene.pixels.size());
  bool unity = sensor.offset == 0 && sensor.scale[0] == 1.0 && sensor.scale[1] == 1.0 &&
               sensor.scale[2] == 1.0;
  if (unity) {
    std::copy(scene.pixels.begin(), scene.pixels.end(), out->pixels.begin());
  } else {
    for (size_t i = 0; i < scene.pixels.size(); ++i) {
      double level = std::lround(scene.pixels[i] * sensor.scale[i % 3]) + sensor.offset;
      out->pixels[i] = static_cast<uint8_t>(std::clamp(level, 0.0, 255.0));
    }
  }
  uint64_t sum = 0, count = 0;
  for (size_t i = 0; i + 2 < out->pixels.size(); i += 3, ++count) {
    sum += camencode::Luma(out->pixels[i], out->pixels[i + 1], out->pixels[i + 2]);
  }
  return static_cast<uint8_t>(count ? sum / count : 0);
}

}  // namespace

std::string FrameFormatFromRegisters(const Bridge& bridge, camencode::FrameFormat* format) {
  uint8_t output = bridge.Peek(bridge_reg::kOutputFormat);
  if (output >= camencode::kOutputFormatCount) {
    return "output format register holds " + std::to_string(output);
  }
  format->format = static_cast<camencode::OutputFormat>(output);
  format->width = bridge.Peek(bridge_reg::kWidthLow) | bridge.Peek(bridge_reg::kWidthHigh) << 8;
  format->height = bridge.Peek(bridge_reg::kHeightLow) | bridge.Peek(bridge_reg::kHeightHigh) << 8;
  if (format->width > kMaxFrameDimension || format->height > kMaxFrameDimension) {
    return "frame size " + std::to_string(format->width) + " x " + std::to_string(format->height) +
           " is larger than the bridge can make";
  }
  uint8_t options = bridge.Peek(bridge_reg::kFormatOptions);
  format->oneLineBayer = (options & bridge_bits::kOneLineBayer) != 0;
  format->chromaSwap = bridge.sensor().Picture(100).chromaSwap;
  format->restartInterval = 0;
  if (options & bridge_bits::kRestartMarkers) {
    uint32_t interval = bridge.Peek(bridge_reg::kRestartInterval);
    format->restartInterval = interval != 0 ? interval : (format->width + 15) / 16;
  }
  // Each quantisation register holds log2 of two quantisers, the first in its low nibble.
  for (int i = 0; i < 64; ++i) {
    int shift = (i & 1) * 4;
    format->lumaQuant[i] = static_cast<uint16_t>(
        std::min(255, 1 << ((bridge.Peek(bridge_reg::kLumaQuant + i / 2) >> shift) & 0x0F)));
    format->chromaQuant[i] = static_cast<uint16_t>(
        std::min(255, 1 << ((bridge.Peek(bridge_reg::kChromaQuant + i / 2) >> shift) & 0x0F)));
  }
  return {};
}

VideoSource::VideoSource(const EmulatorConfig& config) { Configure(config); }

std::string VideoSource::Configure(const EmulatorConfig& config) {
  if (config.pattern != patternText_) {
    std::string error = pattern_.Select(config.pattern);
    if (!error.empty()) return error;
    patternText_ = config.pattern;
  }
  pattern_.SetFrameCounter(config.frameCounter);
  pattern_.SetMovingMarker(config.movingMarker);
  lightPercent_ = config.lightPercent;
  packetizer_.SetPacketUnit(config.packetUnit);
  // A change of bus speed changes the clock frame times are kept on: the schedule starts afresh.
  if (config.ServiceIntervalUs() != intervalUs_) scheduled_ = false;
  intervalUs_ = config.ServiceIntervalUs();
  return {};
}

void VideoSource::StopStream(DeviceStatistics& statistics) {
  if (packetizer_.busy()) {
    packetizer_.Cancel();
    ++statistics.framesInterrupted;
  }
  scheduled_ = false;
}

void VideoSource::OnAlternateSetting(uint16_t packetSize, DeviceStatistics& statistics) {
  packetSize_ = packetSize;
  StopStream(statistics);
}

bool VideoSource::StartFrame(Bridge& bridge, FaultInjector& faults, DeviceStatistics& statistics) {
  camencode::FrameFormat format;
  std::string error = FrameFormatFromRegisters(bridge, &format);
  if (!error.empty()) return false;
  if (format.width != 0 && format.height != 0) {
    pattern_.SetSize(format.width, format.height);
    const campattern::RgbImage& scene = pattern_.Render(frameCounter_);
    bridge.sensor().EndFrame(
        ExposePicture(scene, bridge.sensor().Picture(lightPercent_), &sensorImage_));
  }
  std::vector<uint8_t> frame;
  if (!camencode::EncodeFrame(sensorImage_, format, &frame).empty()) return false;
  if (camencode::IsCompressed(format.format) && faults.Fire(Fault::CorruptFrame) &&
      camencode::CorruptJpegScanData(frame, kCorruptedBytesPerFrame) != 0) {
    ++statistics.framesCorrupted;
  }
  if (camencode::IsCompressed(format.format) && faults.Fire(Fault::CorruptInterval) &&
      camencode::CorruptJpegInterval(frame)) {
    ++statistics.framesCorrupted;
  }
  // An injected drop abandons the frame half way through its packets.
  abandonAfterPackets_ = -1;
  if (faults.Fire(Fault::DropFrame)) {
    uint32_t unit = packetizer_.packetUnit();
    uint32_t payload =
        std::min<uint32_t>(3, packetSize_ / unit) * unit - camencode::kPacketHeaderSize;
    abandonAfterPackets_ = static_cast<int64_t>((frame.size() + payload - 1) / payload / 2);
  }
  packetsInFrame_ = 0;
  packetizer_.BeginFrame(std::move(frame), frameCounter_++);
  ++statistics.framesStarted;
  return true;
}

uint32_t VideoSource::NextPacket(uint64_t interval, Bridge& bridge, FaultInjector& faults,
                                 DeviceStatistics& statistics, uint8_t* buffer, uint32_t capacity) {
  if (!Streaming(bridge) || packetSize_ < packetizer_.packetUnit() ||
      capacity < packetizer_.packetUnit()) {
    StopStream(statistics);
    return 0;
  }
  uint64_t nowUs = interval * intervalUs_;
  if (!packetizer_.busy()) {
    if (!scheduled_) {
      nextFrameDueUs_ = nowUs;
      scheduled_ = true;
    }
    if (nowUs < nextFrameDueUs_) return 0;
    uint64_t period = FramePeriodUs(bridge);
    nextFrameDueUs_ += period;
    if (period != 0 && nextFrameDueUs_ <= nowUs) {
      // Frame times that passed while the previous frame was still on the bus.
      uint64_t missed = (nowUs - nextFrameDueUs_) / period + 1;
      statistics.framesSkipped += missed;
      nextFrameDueUs_ += missed * period;
    }
    if (!StartFrame(bridge, faults, statistics)) {
      ++statistics.framesUnencodable;
      ++statistics.framesDropped;
      ++statistics.dataPackets;
      return packetizer_.AbandonFrame(buffer, capacity, interval);
    }
  }
  if (abandonAfterPackets_ >= 0 && packetsInFrame_ >= abandonAfterPackets_) {
    abandonAfterPackets_ = -1;
    ++statistics.framesDropped;
    ++statistics.dataPackets;
    return packetizer_.AbandonFrame(buffer, capacity, interval);
  }
  bool ended = false;
  uint32_t length = packetizer_.NextPacket(buffer, capacity, packetSize_, interval, &ended);
  if (length == 0) return 0;
  ++packetsInFrame_;
  ++statistics.dataPackets;
  if (ended) ++statistics.framesCompleted;
  if (faults.Fire(Fault::DropPacket)) {
    ++statistics.packetsDropped;
    return 0;
  }
  if (!ended && faults.Fire(Fault::ShortPacket)) {
    // Cut to about half, never to a length that reads as a whole data packet.
    length = std::max<uint32_t>(camencode::kPacketHeaderSize + 1, length / 2);
    if (length % packetizer_.packetUnit() == 0) --length;
    ++statistics.packetsShortened;
  }
  return length;
}

}  // namespace camemu
