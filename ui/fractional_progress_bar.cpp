#include "ui/fractional_progress_bar.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillfen {
namespace {

// Scales a value to the integer bar, clamped so that no float (huge, NaN)
// can overflow the conversion.
int Scaled(float value) {
  constexpr int kHalfOfInt = std::numeric_limits<int>::max() / 2;
  constexpr double kLimit = kHalfOfInt;
  double scaled = static_cast<double>(value) * FractionalProgressBar::kScale;
  if (std::isnan(scaled)) scaled = 0.0;
  scaled = std::clamp(scaled, -kLimit, kLimit);
  return static_cast<int>(std::lround(scaled));
}

}  // namespace

FractionalProgressBar::FractionalProgressBar(QWidget* parent) : QProgressBar(parent) {
  setTextVisible(false);
  Show();
}

void FractionalProgressBar::setFractionalMinimum(float value) {
  minimum_ = value;
  Show();
}

void FractionalProgressBar::setFractionalMaximum(float value) {
  maximum_ = value;
  Show();
}

void FractionalProgressBar::setFractionalValue(float value) {
  value_ = value;
  Show();
}

void FractionalProgressBar::Show() {
  const int low = Scaled(minimum_);
  const int high = std::max(low, Scaled(maximum_));
  setRange(low, high);
  // QProgressBar ignores a value outside its range; the bar shows the
  // nearest end instead, while the exact value stays readable.
  setValue(std::clamp(Scaled(value_), low, high));
}

}  // namespace quillfen
