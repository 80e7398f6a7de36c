#pragma once
// Error values: an operation that can fail on its input returns Result<T>.
// The binding layer turns an Error into ValueError carrying its text.
#include <string>
#include <utility>
#include <variant>

#include "core/panic.hpp"

namespace vatel::core {

struct Error {
  std::string message;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  T& value() & { return checked(); }
  const T& value() const& { return const_cast<Result*>(this)->checked(); }
  T&& value() && { return std::move(checked()); }
  const Error& error() const {
    VATEL_ENSURE(!ok(), "Result::error called on a value");
    return std::get<1>(v_);
  }

 private:
  T& checked() {
    if (!ok()) panic("called value() on an error: " + std::get<1>(v_).message);
    return std::get<0>(v_);
  }
  std::variant<T, Error> v_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), failed_(true) {}
  bool ok() const noexcept { return !failed_; }
  explicit operator bool() const noexcept { return ok(); }
  void value() const {
    if (failed_) panic("called value() on an error: " + error_.message);
  }
  const Error& error() const {
    VATEL_ENSURE(failed_, "Result::error called on a value");
    return error_;
  }

 private:
  Error error_;
  bool failed_ = false;
};

inline Error error(std::string message) { return Error{std::move(message)}; }

}  // namespace vatel::core
