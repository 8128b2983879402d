// Frame building from the isochronous packet stream: where frames begin and end, which bytes of a
// packet are picture data, and the per-frame record the framework keeps for the driver.
//
// Contract of the packet routine (ProcessFramePacket). The camera sends every packet of a frame
// with a 12-byte header that carries nothing the driver needs. Inside a frame every packet is
// exactly 1, 2 or 3 times the header packet size long ("HeaderPerSize", 512 by default); the first
// packet of any other length ends the frame, and its data still belongs to it. So:
// - a data-sized packet while no frame is open opens one and sets the frame-complete flag: the
//   framework closes the frame it was filling and starts the next one with this packet;
// - a packet of another length closes the open frame (the record says ended and completed);
// - a 12-byte packet (a header alone) means the camera dropped the frame: the record says ended,
//   not completed, dropped, and the drop-frame packet flag tells the framework to discard it;
// - an empty packet is ignored.
// Every packet but the empty one and the drop packet is counted in the record. The return value is
// the number of picture bytes of the packet, which start at the valid-data offset (12); packets no
// longer than their header carry none.
#pragma once

#include "kernel_types.h"
#include "usb.h"

// The four bytes "VFTF" in memory order.
inline constexpr ULONG kFrameContextSignature =
    'V' | ('F' << 8) | ('T' << 16) | (static_cast<ULONG>('F') << 24);
inline constexpr ULONG kPacketHeaderBytes = 12;
inline constexpr ULONG kDefaultHeaderPacketSize = 512;

// The framework's per-frame record of the driver; written, never read back.
struct FrameContext {
  ULONG signature;  // kFrameContextSignature
  ULONG size;       // 40
  UCHAR ended;      // 1 once a packet closed the frame
  UCHAR completed;  // 1 when the frame ended normally, 0 when it was dropped
  UCHAR reserved0[2];
  ULONG packets;  // 1 at the start, +1 for every packet of the frame
  ULONG dropped;  // 1 when a 12-byte packet ended the frame
  UCHAR still;    // 1 when the frame belongs to the still stream
  UCHAR reserved1[19];
};
static_assert(sizeof(FrameContext) == 40);

// What the packet routine remembers between packets of one stream.
struct FrameBuilderState {
  ULONG headerPacketSize;  // "HeaderPerSize"
  UCHAR inFrame;           // the packet stream is inside a frame
};

// Starts a frame's record: zeroed, then signature, size, packets 1, completed 1, still for stream
// 1. A null record is left alone.
void StartFrameContext(void* frameContext, ULONG streamNumber);

// One packet of the stream (see the contract above). Any of the out pointers and the record may be
// null; the packet flag and the valid-data offset are cleared first.
ULONG ProcessFramePacket(FrameBuilderState* state, void* frameContext,
                         const USBD_ISO_PACKET_DESCRIPTOR* dataPacket, BOOLEAN* frameComplete,
                         ULONG* packetFlag, ULONG* validDataOffset);
