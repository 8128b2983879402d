// Pool allocations, tracked by tag so that a device's teardown can be checked for leaks, with
// fault injection by count or by tag.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>

#include "host_control.h"
#include "kernel.h"
#include "scheduler.h"

namespace {

struct BlockInfo {
  ULONG tag;
  size_t size;
};

struct PoolState {
  std::mutex lock;
  std::unordered_map<void*, BlockInfo> blocks;
  uint64_t allocations = 0;
  uint64_t failAt = 0;  // absolute allocation number that fails, 0 for none
  std::vector<ULONG> failingTags;
};

PoolState& State() {
  static PoolState* state = new PoolState;  // never destroyed: threads may free during exit
  return *state;
}

constexpr uint8_t kFreshFill = 0xCD;  // so that code relying on zeroed pool shows up
constexpr uint8_t kFreedFill = 0xDD;

}  // namespace

extern "C" PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE poolType, SIZE_T numberOfBytes, ULONG tag) {
  if ((poolType & 1) != 0 && KeGetCurrentIrql() >= DISPATCH_LEVEL) {
    host::VerifierFailure("paged pool allocation (tag %s) at IRQL %u",
                          host::FormatTag(tag).c_str(), KeGetCurrentIrql());
  }
  PoolState& state = State();
  {
    std::lock_guard<std::mutex> guard(state.lock);
    uint64_t number = ++state.allocations;
    if (number == state.failAt) {
      state.failAt = 0;
      return nullptr;
    }
    if (std::find(state.failingTags.begin(), state.failingTags.end(), tag) !=
        state.failingTags.end()) {
      return nullptr;
    }
  }
  size_t rounded = (numberOfBytes + 15) & ~static_cast<size_t>(15);
  void* block = aligned_alloc(16, rounded == 0 ? 16 : rounded);
  if (block == nullptr) return nullptr;
  memset(block, kFreshFill, numberOfBytes);
  std::lock_guard<std::mutex> guard(state.lock);
  state.blocks[block] = BlockInfo{tag, numberOfBytes};
  return block;
}

extern "C" VOID NTAPI ExFreePool(PVOID block) {
  PoolState& state = State();
  BlockInfo info{};
  {
    std::lock_guard<std::mutex> guard(state.lock);
    auto found = state.blocks.find(block);
    if (found == state.blocks.end()) {
      host::VerifierFailure("ExFreePool(%p): not a block the pool handed out (double free?)", block);
      return;
    }
    info = found->second;
    state.blocks.erase(found);
  }
  host::internal::CheckNoQueuedObjectsIn(block, info.size);
  memset(block, kFreedFill, info.size);
  free(block);
}

extern "C" VOID NTAPI ExFreePoolWithTag(PVOID block, ULONG tag) {
  {
    PoolState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    auto found = state.blocks.find(block);
    if (found != state.blocks.end() && found->second.tag != tag) {
      host::VerifierFailure("ExFreePoolWithTag(%p) with tag %s; allocated with %s", block,
                            host::FormatTag(tag).c_str(),
                            host::FormatTag(found->second.tag).c_str());
    }
  }
  ExFreePool(block);
}

namespace host {

std::vector<PoolUsage> PoolReport() {
  PoolState& state = State();
  std::map<std::pair<ULONG, size_t>, size_t> grouped;
  {
    std::lock_guard<std::mutex> guard(state.lock);
    for (const auto& [block, info] : state.blocks) ++grouped[{info.tag, info.size}];
  }
  std::vector<PoolUsage> report;
  for (const auto& [key, count] : grouped) report.push_back({key.first, key.second, count});
  std::sort(report.begin(), report.end(), [](const PoolUsage& a, const PoolUsage& b) {
    return FormatTag(a.tag) != FormatTag(b.tag) ? FormatTag(a.tag) < FormatTag(b.tag)
                                                : a.size < b.size;
  });
  return report;
}

size_t PoolOutstandingBlocks() {
  PoolState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.blocks.size();
}

std::string FormatTag(ULONG tag) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    char c = static_cast<char>((tag >> (8 * i)) & 0xFF);
    text += (c >= 0x20 && c < 0x7F) ? c : '.';
  }
  return text;
}

std::string FormatPoolReport(const std::vector<PoolUsage>& report) {
  std::string text;
  for (const PoolUsage& usage : report) {
    char line[96];
    snprintf(line, sizeof line, "  tag %s: %zu block(s) of %zu bytes\n", FormatTag(usage.tag).c_str(),
             usage.count, usage.size);
    text += line;
  }
  return text;
}

uint64_t AllocationCount() {
  PoolState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.allocations;
}

void FailAllocationNumber(uint64_t n) {
  PoolState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  state.failAt = n == 0 ? 0 : state.allocations + n;
}

void FailAllocationsWithTag(ULONG tag) {
  PoolState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  state.failingTags.push_back(tag);
}

void ClearAllocationFaults() {
  PoolState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  state.failAt = 0;
  state.failingTags.clear();
}

}  // namespace host
