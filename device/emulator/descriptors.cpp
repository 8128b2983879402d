#include "descriptors.h"

#include <string>

namespace camemu {
namespace {

constexpr uint8_t kDescriptorDevice = 1;
constexpr uint8_t kDescriptorConfiguration = 2;
constexpr uint8_t kDescriptorString = 3;
constexpr uint8_t kDescriptorInterface = 4;
constexpr uint8_t kDescriptorEndpoint = 5;
constexpr uint8_t kVendorSpecificClass = 0xFF;

void Put16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

// wMaxPacketSize of a high-bandwidth endpoint carries the extra transactions per microframe in
// bits 11-12 and the size of one transaction below them.
uint16_t EncodeMaxPacket(uint16_t size) {
  if (size <= 1024) return size;
  uint16_t transactions = static_cast<uint16_t>((size + 1023) / 1024);
  return static_cast<uint16_t>(((transactions - 1) << 11) | (size / transactions));
}

void PutEndpoint(std::vector<uint8_t>& out, const host::UsbPipeInfo& pipe) {
  out.push_back(7);
  out.push_back(kDescriptorEndpoint);
  out.push_back(pipe.endpointAddress);
  // Isochronous endpoints are asynchronous (bits 3-2 = 01): the camera runs on its own clock.
  out.push_back(pipe.type == host::UsbPipeType::Isochronous ? 0x05
                                                            : static_cast<uint8_t>(pipe.type));
  Put16(out, EncodeMaxPacket(pipe.maxPacketSize));
  out.push_back(pipe.interval);
}

const char* const kStrings[] = {nullptr, "Camlab", "Emulated USB camera"};

}  // namespace

std::vector<uint8_t> BuildDeviceDescriptor(const EmulatorConfig& config) {
  std::vector<uint8_t> out = {18, kDescriptorDevice};
  Put16(out, config.highSpeed ? 0x0200 : 0x0110);
  out.insert(out.end(), {kVendorSpecificClass, kVendorSpecificClass, kVendorSpecificClass, 64});
  Put16(out, config.vendorId);
  Put16(out, config.productId);
  Put16(out, config.deviceRelease);
  out.insert(out.end(), {1, 2, 0, 1});  // manufacturer, product, no serial; one configuration
  return out;
}

std::vector<host::UsbPipeInfo> PipesOf(const EmulatorConfig& config, uint8_t alternateSetting) {
  if (alternateSetting >= kAlternateSettingCount) return {};
  uint16_t dataSize = config.altPacketSizes[alternateSetting];
  std::vector<host::UsbPipeInfo> pipes = {
      {kDataEndpoint, host::UsbPipeType::Isochronous, dataSize, 1}};
  if (config.pipeCount >= 2) {
    pipes.push_back({kInterruptEndpoint, host::UsbPipeType::Interrupt, kInterruptPacketSize, 10});
  }
  if (config.pipeCount >= 3) {
    pipes.push_back({kSyncEndpoint, host::UsbPipeType::Isochronous,
                     static_cast<uint16_t>(alternateSetting == 0 ? 0 : kSyncPacketSize), 1});
  }
  return pipes;
}

std::vector<uint8_t> BuildConfigurationDescriptor(const EmulatorConfig& config) {
  std::vector<uint8_t> out = {9, kDescriptorConfiguration, 0, 0, 1, 1, 0, 0x80, 250};
  for (uint8_t alt = 0; alt < kAlternateSettingCount; ++alt) {
    std::vector<host::UsbPipeInfo> pipes = PipesOf(config, alt);
    out.insert(out.end(), {9, kDescriptorInterface, 0, alt, static_cast<uint8_t>(pipes.size()),
                           kVendorSpecificClass, kVendorSpecificClass, kVendorSpecificClass, 0});
    for (const host::UsbPipeInfo& pipe : pipes) PutEndpoint(out, pipe);
  }
  out[2] = static_cast<uint8_t>(out.size());
  out[3] = static_cast<uint8_t>(out.size() >> 8);
  return out;
}

std::vector<uint8_t> BuildStringDescriptor(uint8_t index) {
  if (index == 0) return {4, kDescriptorString, 0x09, 0x04};  // English (United States)
  if (index >= std::size(kStrings)) return {};
  std::string text = kStrings[index];
  std::vector<uint8_t> out = {static_cast<uint8_t>(2 + 2 * text.size()), kDescriptorString};
  for (char c : text) Put16(out, static_cast<uint8_t>(c));
  return out;
}

}  // namespace camemu
