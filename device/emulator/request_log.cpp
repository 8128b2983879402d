#include "request_log.h"

namespace camemu {

void RequestLog::Record(RequestRecord record) {
  if (!enabled_ || capacity_ == 0) return;
  if (records_.size() >= capacity_) {
    records_.pop_front();
    ++overflowed_;
  }
  records_.push_back(std::move(record));
}

void RequestLog::Clear() {
  records_.clear();
  overflowed_ = 0;
}

void RequestLog::SetCapacity(size_t capacity) {
  capacity_ = capacity;
  while (records_.size() > capacity_) {
    records_.pop_front();
    ++overflowed_;
  }
}

}  // namespace camemu
