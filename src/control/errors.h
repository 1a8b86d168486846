#pragma once
// Errors that go to the caller instead of through the control's error code: bad
// arguments, numbers that do not fit, unreadable files, exhausted memory. Each
// carries the automation run-time error number that a script sees.
#include <stdexcept>
#include <string>

namespace corvane {

enum class ErrorNumber : int {
  InvalidArgument = 5,      // invalid procedure call or argument
  Overflow = 6,
  OutOfMemory = 7,
  SubscriptOutOfRange = 9,
  TypeMismatch = 13,
  BadFileName = 52,         // bad file name or number
  FileNotFound = 53,
  PathFileAccess = 75,      // path/file access error
  PathNotFound = 76,
  InvalidFileFormat = 321,
  InvalidPropertyValue = 380,
};

class AutomationError : public std::runtime_error {
 public:
  AutomationError(ErrorNumber number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  explicit AutomationError(ErrorNumber number)
      : AutomationError(number, standardDescription(number)) {}

  ErrorNumber number() const { return number_; }

  // The description a script host shows for the number.
  static std::string standardDescription(ErrorNumber number) {
    switch (number) {
      case ErrorNumber::InvalidArgument: return "Invalid procedure call or argument";
      case ErrorNumber::Overflow: return "Overflow";
      case ErrorNumber::OutOfMemory: return "Out of memory";
      case ErrorNumber::SubscriptOutOfRange: return "Subscript out of range";
      case ErrorNumber::TypeMismatch: return "Type mismatch";
      case ErrorNumber::BadFileName: return "Bad file name or number";
      case ErrorNumber::FileNotFound: return "File not found";
      case ErrorNumber::PathFileAccess: return "Path/File access error";
      case ErrorNumber::PathNotFound: return "Path not found";
      case ErrorNumber::InvalidFileFormat: return "Invalid file format";
      case ErrorNumber::InvalidPropertyValue: return "Invalid property value";
    }
    return "Application-defined or object-defined error";
  }

 private:
  ErrorNumber number_;
};

}  // namespace corvane
