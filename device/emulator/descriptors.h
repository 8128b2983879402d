// The USB descriptors of the emulated camera: one configuration, one vendor-specific interface with
// alternate settings 0 to 7, and up to three pipes (isochronous video data, interrupt button
// events, isochronous sync). Alternate setting 0 gives the isochronous pipes no bandwidth.
#pragma once

#include <cstdint>
#include <vector>

#include "config.h"
#include "usb_bus.h"

namespace camemu {

constexpr uint8_t kDataEndpoint = 0x81;
constexpr uint8_t kInterruptEndpoint = 0x82;
constexpr uint8_t kSyncEndpoint = 0x83;
constexpr uint16_t kInterruptPacketSize = 4;  // one button event
constexpr uint16_t kSyncPacketSize = 16;
constexpr uint8_t kAlternateSettingCount = 8;

std::vector<uint8_t> BuildDeviceDescriptor(const EmulatorConfig& config);
std::vector<uint8_t> BuildConfigurationDescriptor(const EmulatorConfig& config);
// String descriptor `index` (0: the language list), empty when there is none.
std::vector<uint8_t> BuildStringDescriptor(uint8_t index);
// The pipes of an alternate setting in pipe order: data, then interrupt, then sync, as many as
// the configured pipe count.
std::vector<host::UsbPipeInfo> PipesOf(const EmulatorConfig& config, uint8_t alternateSetting);

}  // namespace camemu
