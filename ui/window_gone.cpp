#include "ui/window_gone.h"

#include <cstdint>
#include <cstring>

namespace quillfen {
namespace {

// The X protocol's DestroyNotify event: its code in the first byte (the top
// bit tells a sent event), the destroyed window in bytes 8 to 11.
constexpr std::uint8_t kDestroyNotify = 17;
constexpr std::size_t kWindowOffset = 8;

}  // namespace

bool WindowGoneWatch::nativeEventFilter(const QByteArray& eventType, void* message,
                                        qintptr* result) {
  (void)result;
  if (eventType != "xcb_generic_event_t" || message == nullptr) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(message);
  if ((bytes[0] & 0x7f) != kDestroyNotify) return false;
  std::uint32_t window = 0;
  std::memcpy(&window, bytes + kWindowOffset, sizeof window);
  const WId own = window_.internalWinId();
  if (own != 0 && window == static_cast<std::uint32_t>(own)) gone_();
  // Qt handles the event as it would have.
  return false;
}

}  // namespace quillfen
