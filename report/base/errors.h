#pragma once
// The report engine's failures: one base class, one kind per area, each carrying its message.
#include <stdexcept>
#include <string>

namespace parvel::report {

class EReportError : public std::runtime_error {
 public:
  explicit EReportError(const std::string& message) : std::runtime_error(message) {}
};

class EPrintError : public EReportError {
 public:
  using EReportError::EReportError;
};

class EDesignError : public EReportError {
 public:
  using EReportError::EReportError;
};

class EOutlineError : public EReportError {
 public:
  using EReportError::EReportError;
};

class EDataError : public EReportError {
 public:
  using EReportError::EReportError;
};

// A stored report description that cannot be read; the message names the line.
class EStreamError : public EReportError {
 public:
  using EReportError::EReportError;
};

}  // namespace parvel::report
