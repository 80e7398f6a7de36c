#pragma once
// A violated invariant: a condition the code treats as impossible, or a limit
// a caller must respect.  It stops the call; the binding layer turns it into
// PanicException and writes the report to standard error.
#include <exception>
#include <source_location>
#include <string>

namespace vatel::core {

class Panic : public std::exception {
 public:
  explicit Panic(std::string message,
                 std::source_location where = std::source_location::current())
      : message_(std::move(message)), where_(where) {}

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }
  const std::source_location& where() const noexcept { return where_; }

 private:
  std::string message_;
  std::source_location where_;
};

[[noreturn]] inline void panic(std::string message,
                               std::source_location where = std::source_location::current()) {
  throw Panic(std::move(message), where);
}

// Checks an invariant; the message is only built when it fails.
#define VATEL_ENSURE(cond, message)                                   \
  do {                                                                \
    if (!(cond)) [[unlikely]] ::vatel::core::panic((message));        \
  } while (0)

}  // namespace vatel::core
