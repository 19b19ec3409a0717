#include "os/fault_injection.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include "os/planted_faults.h"

namespace quillfen::os {
namespace {

// Every file call asks whether faults are planted; the flag answers that
// without a lock in the normal case, when none are.
std::atomic<bool> anyPlanted{false};
std::mutex plantedMutex;
Faults plan;

bool Applies(const std::string& path) {
  return plan.pathPart.empty() || path.find(plan.pathPart) != std::string::npos;
}

Status InputOutputError() {
  return Status(Failure::Other, std::generic_category().message(EIO));
}

}  // namespace

ScopedFaults::ScopedFaults(Faults faults) {
  const std::lock_guard lock(plantedMutex);
  if (anyPlanted.load()) throw std::logic_error("faults are planted already");
  plan = std::move(faults);
  anyPlanted.store(true);
}

ScopedFaults::~ScopedFaults() {
  const std::lock_guard lock(plantedMutex);
  plan = Faults();
  anyPlanted.store(false);
}

namespace planted {

std::size_t AppendAllowance(const std::string& path, std::size_t size) {
  if (!anyPlanted.load(std::memory_order_relaxed)) return size;
  const std::lock_guard lock(plantedMutex);
  if (!Applies(path) || plan.bytesBeforeFullDisk < 0) return size;
  return std::min(size, static_cast<std::size_t>(plan.bytesBeforeFullDisk));
}

void CountAppended(const std::string& path, std::size_t written) {
  if (!anyPlanted.load(std::memory_order_relaxed)) return;
  const std::lock_guard lock(plantedMutex);
  if (!Applies(path) || plan.bytesBeforeFullDisk < 0) return;
  plan.bytesBeforeFullDisk -= static_cast<std::int64_t>(written);
}

std::optional<Status> CloseFault(const std::string& path) {
  if (!anyPlanted.load(std::memory_order_relaxed)) return std::nullopt;
  const std::lock_guard lock(plantedMutex);
  if (!Applies(path) || !plan.failClose) return std::nullopt;
  return InputOutputError();
}

std::optional<Status> CutBackFault(const std::string& path) {
  if (!anyPlanted.load(std::memory_order_relaxed)) return std::nullopt;
  const std::lock_guard lock(plantedMutex);
  if (!Applies(path) || !plan.failCutBack) return std::nullopt;
  return InputOutputError();
}

bool FlushesSkipped() {
  if (!anyPlanted.load(std::memory_order_relaxed)) return false;
  const std::lock_guard lock(plantedMutex);
  return plan.skipFlushes;
}

std::optional<Status> ListingFault(const std::string& path) {
  if (!anyPlanted.load(std::memory_order_relaxed)) return std::nullopt;
  const std::lock_guard lock(plantedMutex);
  if (!Applies(path) || !plan.failListing) return std::nullopt;
  return Status(Failure::Other, std::generic_category().message(EACCES));
}

bool ThreadStartFault() {
  if (!anyPlanted.load(std::memory_order_relaxed)) return false;
  const std::lock_guard lock(plantedMutex);
  return plan.failThreadStart;
}

Status FullDisk() {
  return Status(Failure::NoSpace, std::generic_category().message(ENOSPC));
}

}  // namespace planted
}  // namespace quillfen::os
