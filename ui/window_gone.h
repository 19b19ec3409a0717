#pragma once

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QWidget>
#include <functional>

namespace quillfen {

// Tells when a window's native window is destroyed from outside the
// program (on X11, by another client, as `xdotool windowclose` does): no
// close event comes then, and the program would go on without a window.
class WindowGoneWatch : public QAbstractNativeEventFilter {
 public:
  // gone runs on the window's thread, once for every such destruction.
  WindowGoneWatch(const QWidget& window, std::function<void()> gone)
      : window_(window), gone_(std::move(gone)) {}

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  const QWidget& window_;
  std::function<void()> gone_;
};

}  // namespace quillfen
