#pragma once

#include <string>

namespace quillfen {

// Whoever drives a walk (the window, the command line, a test) hears from the
// walker through this interface: the running count text and the yields.
class ScanObserver {
 public:
  virtual ~ScanObserver() = default;
  // Called right after the k-th file is queued, with k followed by
  // " Files(s) Queued For Conversion".
  virtual void SetCountLabel(const std::string& text) = 0;
  // Lets the front end process pending events (repaint, input).
  virtual void Yield() = 0;
};

}  // namespace quillfen
