#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>

#include "conversion/conversion.h"
#include "ui/latest_value.h"

namespace quillfen {

// Runs one conversion of the core on a thread of its own, so that the
// window's thread only ever paints and answers the user. Its progress
// reaches the window's thread as queued signals, at most about sixty times a
// second, always ending with the last state; the decision the core asks for
// is asked on the window's thread while the conversion waits.
class WindowConversion : public QObject {
  Q_OBJECT

 public:
  // What the window shows of the conversion at one moment.
  struct Status {
    // The line naming what the conversion does: update, followed by where
    // (a path, shortened in its middle where the line is too narrow).
    QString update;
    QString where;
    QString progress;  // "Message i (of N)"
    // How far it is, "i of N" (or "i of N new"), once it converts.
    QString counts;
    float percent = 0.0f;
    bool hasPercent = false;
  };

  // decide runs on the window's thread. Owned by the window's thread.
  WindowConversion(ConversionRequest request, std::function<Decision(const ConversionPlan&)> decide,
                   QObject* parent = nullptr);
  // Stops the conversion and waits for it.
  ~WindowConversion() override;

  void Start();
  // Asks the conversion to stop between two records; finished follows.
  void RequestStop() { stop_.request_stop(); }
  bool running() const { return thread_.joinable(); }
  const ConversionReport& report() const { return report_; }

 signals:
  void progressChanged(const quillfen::WindowConversion::Status& status);
  // The conversion has ended; report() tells how.
  void finished();

 private:
  class Sink;
  void Post(const Status& status);
  void Deliver();

  ConversionRequest request_;
  std::function<Decision(const ConversionPlan&)> decide_;
  std::stop_source stop_;
  std::thread thread_;
  ConversionReport report_;

  LatestValue<Status> latest_;
};

}  // namespace quillfen
