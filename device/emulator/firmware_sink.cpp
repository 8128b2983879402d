#include "firmware_sink.h"

#include <cstring>

namespace camemu {

bool FirmwareSink::Load(uint16_t address, const uint8_t* data, uint32_t length) {
  if (static_cast<uint32_t>(address) + length > kMemorySize) return false;
  if (length != 0) std::memcpy(memory_.data() + address, data, length);
  if (chunks_.size() < kMaxChunksKept) chunks_.push_back({address, static_cast<uint16_t>(length)});
  bytesLoaded_ += length;
  return true;
}

bool FirmwareSink::Read(uint16_t address, uint8_t* data, uint32_t length) const {
  if (static_cast<uint32_t>(address) + length > kMemorySize) return false;
  if (length != 0) std::memcpy(data, memory_.data() + address, length);
  return true;
}

}  // namespace camemu
