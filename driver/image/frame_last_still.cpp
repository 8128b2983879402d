#include "image/frame_last_still.h"

#include <cstring>

StillBitmapHeader MakeStillHeader(ULONG width, ULONG height) {
  StillBitmapHeader header;
  memset(&header, 0, sizeof header);
  header.size = sizeof header;
  header.width = static_cast<LONG>(width);
  header.height = static_cast<LONG>(height);
  header.planes = 1;
  header.bitCount = 24;
  header.compression = 0;
  header.imageSize = width * height * 3;
  return header;
}

BOOLEAN TryBeginLastFrameChange(LastFrameStore* store) {
  InterlockedExchange(&store->writing, 1);
  if (ReadShared(&store->reads) == 0) return TRUE;
  InterlockedExchange(&store->writing, 0);
  return FALSE;
}

void EndLastFrameChange(LastFrameStore* store) { InterlockedExchange(&store->writing, 0); }

BOOLEAN ReserveLastFrame(LastFrameStore* store, IBufferPool* pool, ULONG size) {
  if (store->buffer != nullptr && store->capacity >= size) return TRUE;
  FreeLastFrame(store, pool);
  if (size == 0 || pool == nullptr) return FALSE;
  store->buffer = static_cast<UCHAR*>(pool->Allocate(NonPagedPool, size, kBufferDirect));
  store->capacity = store->buffer != nullptr ? size : 0;
  return store->buffer != nullptr;
}

void FreeLastFrame(LastFrameStore* store, IBufferPool* pool) {
  if (store->buffer != nullptr && pool != nullptr) pool->Free(store->buffer);
  store->buffer = nullptr;
  store->capacity = 0;
  store->storedLength = 0;
}

LastFrameReadClaim::LastFrameReadClaim(LastFrameStore* store)
    : store_(store), granted_(false), held_(true) {
  InterlockedIncrement(&store_->reads);
  granted_ = ReadShared(&store_->writing) == 0;
}

LastFrameReadClaim::~LastFrameReadClaim() {
  if (held_) Release();
}

LONG LastFrameReadClaim::Release() {
  if (!held_) return ReadShared(&store_->reads);
  held_ = false;
  return InterlockedDecrement(&store_->reads);
}
