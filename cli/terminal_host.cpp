#include "cli/terminal_host.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <utility>

namespace quillfen::cli {

namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

volatile std::sig_atomic_t stopRequested = 0;

}  // namespace

void RequestStop() noexcept {
  stopRequested = 1;
}

bool StopIsRequested() noexcept {
  return stopRequested != 0;
}

void TerminalHost::Yield() {
  if (stopRequested) throw StopRequested();
}

TerminalHost::TerminalHost(std::ostream& progress, bool showProgress)
    : progress_(progress), showProgress_(showProgress) {}

void TerminalHost::Queued(std::int32_t files, std::int32_t messages) {
  (void)files;
  if (!showProgress_ || !DueForRedraw(lastPercent_, false)) return;
  Draw("Scanning: " + std::to_string(messages) + (messages == 1 ? " message" : " messages") +
       " found");
}

void TerminalHost::ShowConversion(std::int32_t done, std::int32_t total,
                                  const std::string& prefix) {
  if (!showProgress_) return;
  const float fraction = total > 0 ? static_cast<float>(done) / static_cast<float>(total) : 1.0f;
  DrawBar(fraction,
          prefix + "Message " + std::to_string(done) + " (of " + std::to_string(total) + ")");
}

void TerminalHost::ShowConversionFraction(std::int32_t done, double fraction) {
  if (!showProgress_) return;
  DrawBar(static_cast<float>(fraction), "Message " + std::to_string(done));
}

void TerminalHost::DrawBar(float fraction, const std::string& text) {
  const float clamped = std::clamp(fraction, 0.0f, 1.0f);
  const int percent = static_cast<int>(std::floor(clamped * 100.0f));
  if (!DueForRedraw(percent, clamped >= 1.0f)) return;
  lastPercent_ = percent;

  const int filled = static_cast<int>(std::floor(clamped * kBarWidth));
  std::string line = "[";
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(kBarWidth - filled), '.');
  line += "] ";
  const std::string percentText = std::to_string(percent);
  line.append(3 - std::min<std::size_t>(3, percentText.size()), ' ');
  line += percentText + "%  " + text;
  Draw(line);
}

void TerminalHost::FinishProgress() {
  if (!lineOpen_) return;
  progress_ << '\n' << std::flush;
  lineOpen_ = false;
  lastLineLength_ = 0;
}

bool TerminalHost::DueForRedraw(int percent, bool final) {
  const Clock::time_point now = Clock::now();
  if (final || percent != lastPercent_ || now - lastDraw_ >= kRedrawInterval) {
    lastDraw_ = now;
    return true;
  }
  return false;
}

void TerminalHost::Draw(const std::string& line) {
  // Blanks cover whatever was left of a longer earlier line.
  std::string padded = "\r" + line;
  if (line.size() < lastLineLength_) padded.append(lastLineLength_ - line.size(), ' ');
  progress_ << padded << std::flush;
  lastLineLength_ = line.size();
  lineOpen_ = true;
}

}  // namespace quillfen::cli
