#include "core/pointer_list.h"

#include <cstring>

PointerList* PointerList::Create(IBufferPool* bufferPool) {
  void* memory = bufferPool->Allocate(NonPagedPool, sizeof(PointerList), kBufferPersistent);
  if (memory == nullptr) return nullptr;
  memset(memory, 0, sizeof(PointerList));
  return new (memory) PointerList(bufferPool);
}

PointerList::~PointerList() {
  while (head != nullptr) PopFront();
}

void PointerList::Delete() {
  IBufferPool* owner = pool;
  this->~PointerList();
  owner->Free(this);
}

NTSTATUS PointerList::Prepend(void* item) {
  auto* node = static_cast<PointerListNode*>(
      pool->Allocate(NonPagedPool, sizeof(PointerListNode), kBufferPersistent));
  if (node == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  node->item = item;
  node->next = head;
  head = node;
  ++count;
  return STATUS_SUCCESS;
}

void* PointerList::Next() {
  if (cursor == nullptr) return nullptr;
  void* item = cursor->item;
  cursor = cursor->next;
  return item;
}

void* PointerList::PopFront() {
  PointerListNode* node = head;
  if (node == nullptr) return nullptr;
  if (cursor == node) cursor = node->next;
  head = node->next;
  void* item = node->item;
  pool->Free(node);
  --count;
  return item;
}
