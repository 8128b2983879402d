#include "image/frame_builder.h"

#include <cstring>

#include "usbcamd.h"

void StartFrameContext(void* frameContext, ULONG streamNumber) {
  if (frameContext == nullptr) return;
  FrameContext record;
  memset(&record, 0, sizeof record);
  record.signature = kFrameContextSignature;
  record.size = sizeof(FrameContext);
  record.packets = 1;
  record.completed = 1;
  record.still = streamNumber == 1 ? 1 : 0;
  memcpy(frameContext, &record, sizeof record);
}

namespace {

// The record is the framework's memory, of no particular alignment: updated through a copy.
template <class Change>
void UpdateRecord(void* frameContext, Change change) {
  if (frameContext == nullptr) return;
  FrameContext record;
  memcpy(&record, frameContext, sizeof record);
  change(record);
  memcpy(frameContext, &record, sizeof record);
}

bool IsDataPacketLength(ULONG length, ULONG headerPacketSize) {
  // 64-bit products: a huge registry value must not wrap onto a real packet length.
  const ULONGLONG unit = headerPacketSize;
  return unit != 0 && (length == unit || length == 2 * unit || length == 3 * unit);
}

}  // namespace

ULONG ProcessFramePacket(FrameBuilderState* state, void* frameContext,
                         const USBD_ISO_PACKET_DESCRIPTOR* dataPacket, BOOLEAN* frameComplete,
                         ULONG* packetFlag, ULONG* validDataOffset) {
  if (packetFlag != nullptr) *packetFlag = 0;
  if (validDataOffset != nullptr) *validDataOffset = 0;
  if (dataPacket == nullptr) return 0;
  const ULONG length = dataPacket->Length;
  if (length == 0) return 0;
  if (length == kPacketHeaderBytes) {
    state->inFrame = 0;
    UpdateRecord(frameContext, [](FrameContext& record) {
      ++record.packets;
      record.completed = 0;
      record.dropped = 1;
      record.ended = 1;
    });
    if (packetFlag != nullptr) *packetFlag |= USBCAMD_PROCESSPACKETEX_DropFrame;
    return 0;
  }
  if (IsDataPacketLength(length, state->headerPacketSize)) {
    if (state->inFrame == 0) {
      state->inFrame = 1;
      if (frameComplete != nullptr) *frameComplete = TRUE;
    }
    UpdateRecord(frameContext, [](FrameContext& record) { ++record.packets; });
  } else {
    const bool closes = state->inFrame != 0;
    state->inFrame = 0;
    UpdateRecord(frameContext, [closes](FrameContext& record) {
      ++record.packets;
      if (closes) {
        record.completed = 1;
        record.ended = 1;
      }
    });
  }
  // A packet no longer than its header has no picture bytes (a header size of a few bytes in the
  // registry must not make the count wrap).
  if (length <= kPacketHeaderBytes) return 0;
  if (validDataOffset != nullptr) *validDataOffset = kPacketHeaderBytes;
  return length - kPacketHeaderBytes;
}
