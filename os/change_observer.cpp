#include "os/change_observer.h"

#include <atomic>

namespace quillfen::os {
namespace {

std::atomic<ChangeObserver*> observer{nullptr};

}  // namespace

void ObserveChanges(ChangeObserver* installed) {
  observer.store(installed);
}

namespace observed {

bool Watching() {
  return observer.load(std::memory_order_relaxed) != nullptr;
}

void Tell(Change::Kind kind, std::string_view path, std::int64_t length,
          std::span<const std::string_view> bytes) {
  ChangeObserver* const now = observer.load(std::memory_order_acquire);
  if (now == nullptr) return;
  Change change;
  change.kind = kind;
  change.path = path;
  change.length = length;
  change.bytes = bytes;
  now->Changed(change);
}

}  // namespace observed
}  // namespace quillfen::os
