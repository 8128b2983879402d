#include "image/color_tables.h"

#include <cstring>

void FillConversionTables(DecodedColorTables* tables) {
  for (LONG i = 0; i < 256; ++i) {
    const LONG x = i - 128;
    tables->crToR[i] = (91881 * x + 32768) >> 16;
    tables->cbToB[i] = (116130 * x + 32768) >> 16;
    tables->crToG[i] = -46802 * x;
    tables->cbToG[i] = -22554 * x + 32768;
  }
  UCHAR* limit = tables->rangeLimit;
  memset(limit, 0, 256);
  for (ULONG i = 0; i < 256; ++i) limit[256 + i] = static_cast<UCHAR>(i);
  memset(limit + 512, 255, 384);
  memset(limit + 896, 0, 384);
  for (ULONG i = 0; i < 128; ++i) limit[1280 + i] = static_cast<UCHAR>(i);
}

NTSTATUS BuildConversionTables(IBufferPool* pool, DecodedColorTables** result) {
  *result = nullptr;
  void* block = pool->Allocate(NonPagedPool, sizeof(DecodedColorTables), kBufferPersistent);
  if (block == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  DecodedColorTables* tables = static_cast<DecodedColorTables*>(block);
  FillConversionTables(tables);
  *result = tables;
  return STATUS_SUCCESS;
}

void FreeConversionTables(IBufferPool* pool, DecodedColorTables** tables) {
  if (*tables == nullptr) return;
  pool->Free(*tables);
  *tables = nullptr;
}
