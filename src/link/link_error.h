// What stops a link operation: an error number and text, reported by the
// operation as "Error <number> (<description>) in procedure ...". Link steps
// return it instead of throwing.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace kolibra {

struct LinkError {
  int number;
  std::string description;
};

// A link step's value, or the error that stopped the step.
template <class T>
class LinkResult {
 public:
  // Implicit, so that a step simply returns its value or its error.
  LinkResult(T value) : state_(std::move(value)) {}
  LinkResult(LinkError error) : state_(std::move(error)) {}
  bool HasError() const { return std::holds_alternative<LinkError>(state_); }
  const LinkError& Error() const { return std::get<LinkError>(state_); }
  const T& Value() const { return std::get<T>(state_); }

 private:
  std::variant<T, LinkError> state_;
};

}  // namespace kolibra
