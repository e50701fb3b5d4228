// The component's exceptions and the numbered error texts behind them.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace comport {

// Base of every exception the component and its framework raise: carries the message text.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Raised when an object is asked to copy from an object it cannot copy from.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Message text of a component error code; codes outside the table give "Unknown Error #<code>".
std::string ErrorText(std::int32_t code);

// A request the port refused. Message: "<port> Error: <text>".
class EComPort : public Exception {
 public:
  EComPort(const std::string& port, std::uint8_t code);
  // A misuse that the error table has no entry for: the text is given, the code is 0.
  EComPort(const std::string& port, const std::string& text);
  std::uint8_t ErrorCode() const { return errorCode_; }

 protected:
  EComPort(std::string message, std::uint8_t code, int /*prebuilt*/)
      : Exception(std::move(message)), errorCode_(code) {}

 private:
  std::uint8_t errorCode_;
};

// A system call that failed. Message: "COM Port Error: <text> on <port>"; the
// system's error number is carried only in OsErrorCode.
class EComPortExt : public EComPort {
 public:
  EComPortExt(const std::string& port, std::uint8_t code, std::uint32_t osErrorCode);
  // The same, followed by why: "COM Port Error: <text> on <port>: <reason>".
  EComPortExt(const std::string& port, std::uint8_t code, std::uint32_t osErrorCode,
              const std::string& reason);
  std::uint32_t OsErrorCode() const { return osErrorCode_; }

 private:
  std::uint32_t osErrorCode_;
};

}  // namespace comport
