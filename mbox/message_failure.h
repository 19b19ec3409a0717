#pragma once

#include <stdexcept>
#include <string>

namespace quillfen {

// One message could not be converted. what() is the reason, fit to show the
// user next to the message's file name ("cannot open: No such file or
// directory").
class MessageFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace quillfen
