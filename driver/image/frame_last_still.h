// The last still frame that the image processor keeps: a 24-bit bottom-up image with its bitmap
// information header, read by applications through a custom property or a device control code
// while frames keep arriving.
//
// Readers and the frame path never take a lock; they coordinate through two interlocked words.
// A reader counts itself in `reads` and then checks `writing`; the frame path (and the stream
// close) raises `writing` and then checks `reads`. Each does its second step after its own
// interlocked write, so at most one side goes on: a reader that meets a change in progress gets
// nothing, and a change that meets a reader is put off to a later frame. The buffer is therefore
// never freed, replaced or rewritten while a reader copies it.
#pragma once

#include "core/buffer_pool.h"

// The 40-byte bitmap information header of the still.
struct StillBitmapHeader {
  ULONG size;  // 40
  LONG width;
  LONG height;
  USHORT planes;
  USHORT bitCount;
  ULONG compression;
  ULONG imageSize;
  LONG xPelsPerMeter;
  LONG yPelsPerMeter;
  ULONG colorsUsed;
  ULONG colorsImportant;
};
static_assert(sizeof(StillBitmapHeader) == 40);

struct LastFrameStore {
  UCHAR* buffer;       // direct pool kind, or null
  ULONG capacity;      // bytes of buffer
  ULONG storedLength;  // bytes of the stored still, 0 when none
  StillBitmapHeader header;
  LONG volatile reads;    // readers copying now ("lastFrameReads")
  LONG volatile writing;  // 1 while the frame path changes the buffer or the still
};

// A 24-bit, one-plane, uncompressed header of width x height.
StillBitmapHeader MakeStillHeader(ULONG width, ULONG height);

// The frame path's side. TryBeginLastFrameChange is FALSE when a reader is copying (nothing may
// change then); after TRUE, EndLastFrameChange must follow.
BOOLEAN TryBeginLastFrameChange(LastFrameStore* store);
void EndLastFrameChange(LastFrameStore* store);

// Within a change: makes the buffer hold at least size bytes (freed and allocated anew when
// smaller; capacity 0 when that fails). The stored still is lost when the buffer is replaced.
BOOLEAN ReserveLastFrame(LastFrameStore* store, IBufferPool* pool, ULONG size);
// Within a change, or when no reader can exist any more: frees the buffer, nothing stored.
void FreeLastFrame(LastFrameStore* store, IBufferPool* pool);

// A reader's hold on the still: counted for its lifetime; `granted` is FALSE when a change was in
// progress (the reader must not touch the buffer then). The count is dropped by Release, or by
// the destructor when Release was not called; Release returns the count left.
class LastFrameReadClaim {
 public:
  explicit LastFrameReadClaim(LastFrameStore* store);
  ~LastFrameReadClaim();
  LastFrameReadClaim(const LastFrameReadClaim&) = delete;
  LastFrameReadClaim& operator=(const LastFrameReadClaim&) = delete;

  bool granted() const { return granted_; }
  LONG Release();

 private:
  LastFrameStore* store_;
  bool granted_;
  bool held_;
};

// An interlocked read of a word that other threads change.
inline LONG ReadShared(LONG volatile* word) { return InterlockedCompareExchange(word, 0, 0); }
