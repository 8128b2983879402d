// A singly linked list of untyped pointers with its nodes from the persistent kind of the buffer
// pool. Insertion is at the head, so a list filled from a registry enumeration is walked newest
// first. The list owns its nodes, never its items.
#pragma once

#include "core/buffer_pool.h"

struct PointerListNode {
  PointerListNode* next;
  void* item;
};
static_assert(sizeof(PointerListNode) == 2 * sizeof(void*));

class PointerList {
 public:
  // Takes the list object zero-filled from the persistent kind and constructs it; null when no
  // memory can be had.
  static PointerList* Create(IBufferPool* pool);

  // The one slot: destroys the nodes, leaving the items alone, and frees the list object.
  virtual void Delete();

  NTSTATUS Prepend(void* item);
  // Iteration: Rewind (cursor = head), then Next until it returns null.
  void Rewind() { cursor = head; }
  void* Next();
  void* PopFront();

  // Fields, in order after the table pointer.
  PointerListNode* head;
  PointerListNode* cursor;
  ULONG count;
  IBufferPool* pool;  // uncounted

 protected:
  explicit PointerList(IBufferPool* bufferPool)
      : head(nullptr), cursor(nullptr), count(0), pool(bufferPool) {}
  ~PointerList();
};
