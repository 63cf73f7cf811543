#pragma once
// The two toolkit errors: a file read the system refuses, and memory that
// cannot be had. Both end a burn run at once and are shown by the front end's
// top-level error report.
#include <stdexcept>
#include <string>

namespace tarnwick {

class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class MemoryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tarnwick
