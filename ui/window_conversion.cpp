#include "ui/window_conversion.h"

#include <QFile>
#include <QMetaObject>
#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <optional>

#include "conversion/report_text.h"
#include "os/paths.h"
#include "ui/window_texts.h"

namespace quillfen {

namespace {

QString ToQt(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

// The core's progress as the window words it.
class WindowConversion::Sink : public ConversionSink {
 public:
  Sink(WindowConversion& owner, QString destination)
      : owner_(owner), destination_(std::move(destination)) {}

  void ReadingDestination(std::int32_t mailboxes) override {
    Word();
    Status status = last_;
    status.update = QStringLiteral("Reading %1 mailbox%2 the destination already holds, in ")
                        .arg(Number(mailboxes))
                        .arg(mailboxes == 1 ? QString() : QStringLiteral("es"));
    status.where = destination_;
    Show(status, true);
  }
  void Comparing(std::int32_t done, std::int32_t total) override {
    Word();
    Status status = last_;
    status.update = QStringLiteral("Comparing message %1").arg(Number(done));
    // An archive read in one pass tells no total while it is compared.
    if (total > 0) status.update += QStringLiteral(" of %1").arg(Number(total));
    status.update += QStringLiteral(" with what the destination holds, in ");
    status.where = destination_;
    Show(status, total > 0 && done >= total);
  }
  // Comes for every message, far more often than the window shows it: the
  // progress is kept as it is, and worded only when it is shown.
  void Converting(const ConversionProgress& progress) override {
    progress_ = progress;
    progress_.folder = nullptr;
    progress_.mailbox = nullptr;
    if (progress.mailbox != nullptr && !progress.mailbox->empty() &&
        *progress.mailbox != mailbox_) {
      mailbox_ = *progress.mailbox;
      mailboxChanged_ = true;
    }
    progressPending_ = true;
    pending_ = true;
    if (Due(progress.filesTotal > 0 && progress.files == progress.filesTotal)) Flush();
  }

  // The plan and what the user decided: the progress then counts the
  // messages this run adds, not those the destination holds already.
  void Planned(const ConversionPlan& plan, Decision decision) {
    held_ = decision == Decision::ConvertMissing ? plan.held : 0;
  }

  void Flush() {
    Word();
    if (pending_) owner_.Post(last_);
    pending_ = false;
  }

 private:
  using Clock = std::chrono::steady_clock;

  // Words the last progress of the conversion into the status.
  void Word() {
    if (!progressPending_) return;
    progressPending_ = false;
    if (mailboxChanged_) NameMailbox();
    mailboxChanged_ = false;
    // The count is of the messages this run writes: those the destination
    // holds already are passed over, and said to be so ("of 5 new").
    const QString done = Number(progress_.fresh);
    QString total;
    if (progress_.messagesTotal > 0) {
      total = Number(progress_.freshTotal);
      if (held_ > 0) total += QStringLiteral(" new");
    }
    if (total.isEmpty()) {
      last_.counts = done;
      last_.progress = QStringLiteral("Message %1").arg(done);
    } else {
      last_.counts = QStringLiteral("%1 of %2").arg(done, total);
      last_.progress = QStringLiteral("Message %1 (of %2)").arg(done, total);
    }
    last_.percent = static_cast<float>(progress_.fraction * 100.0);
    last_.hasPercent = true;
  }

  // The status names the mailbox being written, as it is written, and the
  // folder it is in below the destination.
  void NameMailbox() {
    last_.update = QStringLiteral("Converting into ") +
                   ToQt(EscapedForReport(ExtractFileName(mailbox_))) + QStringLiteral(" in ");
    last_.where = ToQt(EscapedForReport(ExtractParentPath(mailbox_)));
  }

  void Show(const Status& status, bool now) {
    last_ = status;
    pending_ = true;
    if (Due(now)) Flush();
  }

  // Whether a status is to be shown now: at most one every 16 ms, but the
  // last one of a phase at once.
  bool Due(bool now) {
    const Clock::time_point time = Clock::now();
    if (!now && time - lastPost_ < std::chrono::milliseconds(16)) return false;
    lastPost_ = time;
    return true;
  }

  WindowConversion& owner_;
  QString destination_;
  Status last_;
  bool pending_ = false;
  // The conversion's last progress, not yet worded into last_.
  ConversionProgress progress_;
  bool progressPending_ = false;
  std::string mailbox_;
  bool mailboxChanged_ = false;
  std::int32_t held_ = 0;
  Clock::time_point lastPost_{};
};

WindowConversion::WindowConversion(ConversionRequest request,
                                   std::function<Decision(const ConversionPlan&)> decide,
                                   QObject* parent)
    : QObject(parent), request_(std::move(request)), decide_(std::move(decide)) {}

WindowConversion::~WindowConversion() {
  stop_.request_stop();
  if (thread_.joinable()) thread_.join();
}

void WindowConversion::Start() {
  thread_ = std::thread([this] {
    Sink sink(*this, ToQt(request_.destination));
    const auto decide = [this, &sink](const ConversionPlan& plan) {
      // The captions show where the comparison ended, not where it was at
      // the last post, while the question waits.
      sink.Flush();
      // The question is the window's: it is asked on its thread while the
      // conversion waits for the answer, or for a stop (the window going
      // away must not wait on a question that will never be answered).
      auto answer = std::make_shared<std::promise<Decision>>();
      std::future<Decision> answered = answer->get_future();
      QMetaObject::invokeMethod(
          this, [this, plan, answer] { answer->set_value(decide_(plan)); }, Qt::QueuedConnection);
      while (answered.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        if (stop_.stop_requested()) return Decision::Cancel;
      const Decision decision = answered.get();
      sink.Planned(plan, decision);
      return decision;
    };
    try {
      report_ = Convert(request_, decide, sink, stop_.get_token());
    } catch (const std::exception& error) {
      report_ = ConversionReport{};
      report_.ending = Ending::DestinationFailed;
      report_.reason = error.what();
    }
    sink.Flush();
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (thread_.joinable()) thread_.join();
          Deliver();
          emit finished();
        },
        Qt::QueuedConnection);
  });
}

void WindowConversion::Post(const Status& status) {
  if (latest_.Put(status))
    QMetaObject::invokeMethod(this, &WindowConversion::Deliver, Qt::QueuedConnection);
}

void WindowConversion::Deliver() {
  if (std::optional<Status> status = latest_.Take()) emit progressChanged(*status);
}

}  // namespace quillfen
