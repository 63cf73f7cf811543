#pragma once
// The one way an operation that reaches the operating system answers: success,
// or a system error. The code is the system's own (errno on Linux,
// GetLastError on Windows, in std::system_category(); a condition that is not
// the system's, such as a file that is not a regular file, uses
// std::generic_category()). The text is what the operator is told; it names
// what failed and usually ends with the system's description of the code.
#include <string>
#include <system_error>
#include <utility>

namespace tarnwick {

class [[nodiscard]] SysStatus {
 public:
  // Success.
  SysStatus() = default;
  SysStatus(std::error_code code, std::string text) : m_code(code), m_text(std::move(text)) {
    // A failure always has a code: a caller tests IsOk(), not the text.
    if (!m_code) m_code = std::make_error_code(std::errc::io_error);
  }

  static SysStatus Ok() { return {}; }
  // A failure whose text is the code's own description.
  static SysStatus FromCode(std::error_code code) { return {code, code.message()}; }

  bool IsOk() const { return !m_code; }
  explicit operator bool() const { return IsOk(); }
  const std::error_code& Code() const { return m_code; }
  // The operator's text; empty on success.
  const std::string& Text() const { return m_text; }

 private:
  std::error_code m_code;
  std::string m_text;
};

// A value, or the system error that kept it from being had.
template <typename T>
class [[nodiscard]] SysResult {
 public:
  SysResult(T value) : m_value(std::move(value)) {}  // NOLINT(google-explicit-constructor)
  SysResult(SysStatus error) : m_status(std::move(error)) {}  // NOLINT(google-explicit-constructor)

  bool IsOk() const { return m_status.IsOk(); }
  explicit operator bool() const { return IsOk(); }
  const SysStatus& Status() const { return m_status; }
  T& Value() { return m_value; }
  const T& Value() const { return m_value; }
  T Take() { return std::move(m_value); }

 private:
  T m_value{};
  SysStatus m_status;
};

}  // namespace tarnwick
