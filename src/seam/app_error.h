#pragma once
// The one error type of the program. Raised wherever a routine cannot go on
// (a refused registry write, a transport failure, a damaged package); caught
// only at the boundaries (start-up, the click handlers), which show the
// message in the error box and keep the program running.

#include <cstdint>
#include <string>
#include <utility>

namespace oq {

class AppError {
 public:
  explicit AppError(std::wstring message, uint32_t code = 0)
      : message_(std::move(message)), code_(code) {}
  // The text the user reads.
  const std::wstring& Message() const { return message_; }
  // The Win32 or WinHTTP error code behind it, 0 when there is none.
  uint32_t Code() const { return code_; }

 private:
  std::wstring message_;
  uint32_t code_;
};

// Not an error: the user closed the window while a transfer or a pause was
// under way, before anything installed changed. Raised by the transport and
// by the procedures' own checks; the boundaries end the run quietly.
struct Cancelled {};

}  // namespace oq
