#pragma once
// The error kinds the program raises and lets escape to the application's error display.
#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// File and text-input failures. ErrorCode is the system's reason, or 0 when there is none.
class EInOutError : public Exception {
 public:
  EInOutError(const std::string& message, int errorCode = 0) : Exception(message), ErrorCode(errorCode) {}
  int ErrorCode;
};

// Text that does not convert to a number.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};
