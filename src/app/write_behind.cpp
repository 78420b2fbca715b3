#include "app/write_behind.h"

#include <algorithm>
#include <utility>

namespace snip {

namespace {

constexpr size_t kMostWaiting = 2;
constexpr size_t kMostPooled = 4;  // the caller's, two waiting and one being written

}  // namespace

WriteBehind::WriteBehind(File& file, BlockPool* pool)
    : file_(file), pool_(pool), end_(std::max<int64_t>(0, file.Tell())) {
  if (pool_) spare_ = std::move(*pool_);
  thread_ = std::thread([this] { Run(); });
}

WriteBehind::~WriteBehind() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    waiting_.clear();
  }
  changed_.notify_all();
  thread_.join();
  if (pool_) {
    pool_->clear();
    for (std::vector<uint8_t>& block : spare_) {
      if (pool_->size() == kMostPooled) break;
      block.clear();
      pool_->push_back(std::move(block));
    }
  }
}

bool WriteBehind::Hand(std::vector<uint8_t>& block) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return failed_ || waiting_.size() < kMostWaiting; });
  if (failed_) return false;
  const size_t room = block.capacity();
  end_ += static_cast<int64_t>(block.size());
  if (!block.empty()) waiting_.push_back(std::move(block));
  if (!spare_.empty()) {
    block = std::move(spare_.back());
    spare_.pop_back();
  } else {
    block = std::vector<uint8_t>();
  }
  block.clear();
  block.reserve(room);
  lock.unlock();
  changed_.notify_all();
  return true;
}

bool WriteBehind::Drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return failed_ || (waiting_.empty() && !writing_); });
  return !failed_;
}

void WriteBehind::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
    if (stop_) return;
    std::vector<uint8_t> block = std::move(waiting_.front());
    waiting_.pop_front();
    writing_ = true;
    lock.unlock();
    bool written = file_.Write(block.data(), block.size());
    lock.lock();
    writing_ = false;
    if (!written) {
      failed_ = true;
      waiting_.clear();
    }
    block.clear();
    spare_.push_back(std::move(block));
    changed_.notify_all();
  }
}

}  // namespace snip
