#pragma once
// What the core raises: what() is the message a script shows, exactly.
#include <stdexcept>
#include <string>

namespace korvala {

class SourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] inline void Raise(const std::string& message) { throw SourceError(message); }

}  // namespace korvala
