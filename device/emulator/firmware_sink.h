// Where firmware downloads land: vendor request 1 with a non-zero value carries a chunk of firmware
// for the bridge's code memory at that load address. The sink keeps the memory and every chunk so
// that tests and the tool can see what was sent; the bridge does not run it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace camemu {

class FirmwareSink {
 public:
  static constexpr uint32_t kMemorySize = 0x10000;  // the 16-bit load address space
  static constexpr size_t kMaxChunksKept = 65536;   // later chunks load but are not listed

  struct Chunk {
    uint16_t address;
    uint16_t length;
  };

  FirmwareSink() : memory_(kMemorySize, 0) {}
  // False (and nothing stored) when the chunk does not fit in the code memory.
  bool Load(uint16_t address, const uint8_t* data, uint32_t length);
  // Reads back code memory; false when the range does not fit.
  bool Read(uint16_t address, uint8_t* data, uint32_t length) const;

  const std::vector<Chunk>& chunks() const { return chunks_; }
  uint64_t bytesLoaded() const { return bytesLoaded_; }
  const std::vector<uint8_t>& memory() const { return memory_; }

 private:
  std::vector<uint8_t> memory_;
  std::vector<Chunk> chunks_;
  uint64_t bytesLoaded_ = 0;
};

}  // namespace camemu
