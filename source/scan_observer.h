#pragma once

#include <cstdint>

namespace quillfen {

// Whoever drives a walk (the window, the command line, a test) hears from the
// walker through this interface: how far the walk is, as numbers each front
// end words for itself, and the yields.
class ScanObserver {
 public:
  virtual ~ScanObserver() = default;
  // Called right after each file is queued, with the files queued so far
  // and the messages (.eml files) among them.
  virtual void Queued(std::int32_t files, std::int32_t messages) = 0;
  // Lets the front end process pending events, or stop the walk by
  // throwing.
  virtual void Yield() = 0;
};

}  // namespace quillfen
