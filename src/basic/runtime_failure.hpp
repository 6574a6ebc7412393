// Run-time failures: the platform-level errors of the control (overflow, subscript
// out of range, file not found, ...), each carrying its classic error number and
// description. Record checks never throw them; they report message numbers instead.
#pragma once

#include <stdexcept>
#include <string>

namespace zav {

namespace err {
inline constexpr int kInvalidCall = 5;
inline constexpr int kOverflow = 6;
inline constexpr int kSubscriptOutOfRange = 9;
inline constexpr int kDivisionByZero = 11;
inline constexpr int kTypeMismatch = 13;
inline constexpr int kBadFileName = 52;
inline constexpr int kFileNotFound = 53;
inline constexpr int kDeviceIo = 57;
inline constexpr int kDiskFull = 61;
inline constexpr int kPermissionDenied = 70;
inline constexpr int kDiskNotReady = 71;
inline constexpr int kPathFileAccess = 75;
inline constexpr int kPathNotFound = 76;
inline constexpr int kNoSuchMember = 438;
inline constexpr int kWrongArguments = 450;
inline constexpr int kDllFunctionNotFound = 453;
}  // namespace err

// The classic description of an error number ("Overflow" for 6); a generic text for
// numbers outside the list.
const char* ClassicErrorDescription(int number);

class RuntimeFailure : public std::runtime_error {
 public:
  explicit RuntimeFailure(int number);
  // A failure with a more specific description (the native cause of an I/O error).
  RuntimeFailure(int number, const std::string& description);

  int number() const noexcept { return number_; }
  std::string description() const { return what(); }

 private:
  int number_;
};

}  // namespace zav
