// Always-on counters of the emulated camera: what it sent, what it dropped or damaged on purpose,
// and what the host asked of it. Tests assert on them; the tool prints them.
#pragma once

#include <cstdint>

namespace camemu {

struct DeviceStatistics {
  // Control pipe.
  uint64_t requests = 0;          // control transfers answered
  uint64_t requestsFailed = 0;    // of them stalled (bad request or injected failure)
  uint64_t requestsInjected = 0;  // stalled by fault injection
  uint64_t altSettingsRefused = 0;
  // Isochronous pipe.
  uint64_t packets = 0;      // service intervals served, empty ones included
  uint64_t dataPackets = 0;  // packets that carried frame data (end packets included)
  uint64_t emptyPackets = 0;
  uint64_t packetsDropped = 0;  // data packets lost on purpose
  uint64_t packetsShortened = 0;
  uint64_t framesStarted = 0;
  uint64_t framesCompleted = 0;    // sent to their end packet
  uint64_t framesDropped = 0;      // abandoned with a 12-byte packet (injected or not encodable)
  uint64_t framesCorrupted = 0;    // compressed frames sent with damaged data
  uint64_t framesUnencodable = 0;  // the registers asked for a frame the bridge cannot make
  uint64_t framesSkipped = 0;      // sensor frames lost because the previous one was still sending
  uint64_t framesInterrupted = 0;  // frames cut off by a change of alternate setting
  // Interrupt pipe.
  uint64_t buttonEvents = 0;  // events delivered
};

}  // namespace camemu
