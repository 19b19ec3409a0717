#pragma once

#include <QProgressBar>

namespace quillfen {

// A progress bar whose minimum, maximum and value are single-precision
// numbers. The run sets values such as 33.333332; they are kept exactly as
// given and shown on an integer bar scaled by kScale, so a hundred-thousand
// item run still moves the bar visibly.
class FractionalProgressBar : public QProgressBar {
  Q_OBJECT

 public:
  static constexpr int kScale = 100;

  explicit FractionalProgressBar(QWidget* parent);

  void setFractionalMinimum(float value);
  void setFractionalMaximum(float value);
  void setFractionalValue(float value);

  float fractionalMinimum() const { return minimum_; }
  float fractionalMaximum() const { return maximum_; }
  float fractionalValue() const { return value_; }

 private:
  void Show();

  float minimum_ = 0.0f;
  float maximum_ = 100.0f;
  float value_ = 0.0f;
};

}  // namespace quillfen
