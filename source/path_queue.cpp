#include "source/path_queue.h"

#include <algorithm>
#include <cstring>

namespace quillfen {

PathQueue::PathQueue(Growth growth) : open_(growth == Growth::Growing) {}

void PathQueue::push_back(std::string_view path) {
  std::size_t shared = 0;
  const std::size_t most = std::min(path.size(), last_.size());
  while (shared < most && path[shared] == last_[shared]) ++shared;
  Block* block = blocks_.empty() ? nullptr : blocks_.back().get();
  const std::size_t used = block != nullptr ? block->used.load(std::memory_order_relaxed) : 0;
  if (block == nullptr || used + kMaxVarint * 2 + path.size() - shared > block->capacity) {
    const std::size_t capacity = std::max(kBlockSize, kMaxVarint * 2 + path.size());
    auto added = std::make_unique<Block>();
    added->bytes = std::make_unique_for_overwrite<char[]>(capacity);
    added->capacity = capacity;
    Block* const previous = block;
    block = added.get();
    blocks_.push_back(std::move(added));
    (previous != nullptr ? previous->next : first_).store(block, std::memory_order_relaxed);
    shared = 0;
  }
  char* const start = block->bytes.get();
  char* out = start + block->used.load(std::memory_order_relaxed);
  out = PutVarint(out, shared);
  out = PutVarint(out, path.size() - shared);
  std::memcpy(out, path.data() + shared, path.size() - shared);
  out += path.size() - shared;
  block->used.store(static_cast<std::size_t>(out - start), std::memory_order_relaxed);
  last_.assign(path);
  // Published last: a reader that sees the count sees the bytes, the block
  // and where it ends. Sequentially consistent with the waiters' count, so
  // that either a waiter sees the new count or this thread sees the waiter.
  count_.fetch_add(1, std::memory_order_seq_cst);
  if (waiting_.load(std::memory_order_seq_cst) > 0) {
    std::lock_guard lock(mutex_);
    more_.notify_all();
  }
}

void PathQueue::Close() {
  {
    std::lock_guard lock(mutex_);
    open_.store(false, std::memory_order_release);
  }
  more_.notify_all();
}

bool PathQueue::WaitFor(std::size_t index) const {
  if (index < count_.load(std::memory_order_acquire)) return true;
  if (!open_.load(std::memory_order_acquire)) return index < count_.load(std::memory_order_acquire);
  std::unique_lock lock(mutex_);
  waiting_.fetch_add(1, std::memory_order_seq_cst);
  more_.wait(lock, [&] {
    return index < count_.load(std::memory_order_seq_cst) || !open_.load(std::memory_order_acquire);
  });
  waiting_.fetch_sub(1, std::memory_order_relaxed);
  return index < count_.load(std::memory_order_acquire);
}

void PathQueue::const_iterator::Decode() const {
  while (decoded_ <= index_) {
    auto* block = static_cast<const Block*>(block_);
    // The path is in this block unless its bytes end here; the writer only
    // ever appends to the last block, so then it starts the next one.
    if (block == nullptr) {
      block = queue_->first_.load(std::memory_order_relaxed);
      in_ = block->bytes.get();
    } else if (in_ == block->bytes.get() + block->used.load(std::memory_order_relaxed)) {
      block = block->next.load(std::memory_order_relaxed);
      in_ = block->bytes.get();
    }
    block_ = block;
    std::size_t shared = 0;
    std::size_t rest = 0;
    in_ = GetVarint(GetVarint(in_, shared), rest);
    value_.resize(shared);
    value_.append(in_, rest);
    in_ += rest;
    ++decoded_;
  }
}

char* PathQueue::PutVarint(char* out, std::size_t value) {
  while (value >= 0x80) {
    *out++ = static_cast<char>((value & 0x7f) | 0x80);
    value >>= 7;
  }
  *out++ = static_cast<char>(value);
  return out;
}

const char* PathQueue::GetVarint(const char* in, std::size_t& value) {
  value = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*in++);
    value |= static_cast<std::size_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) return in;
  }
}

}  // namespace quillfen
