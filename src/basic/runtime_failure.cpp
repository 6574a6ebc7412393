#include "basic/runtime_failure.hpp"

namespace zav {

const char* ClassicErrorDescription(int number) {
  switch (number) {
    case err::kInvalidCall:
      return "Invalid procedure call or argument";
    case err::kOverflow:
      return "Overflow";
    case err::kSubscriptOutOfRange:
      return "Subscript out of range";
    case err::kDivisionByZero:
      return "Division by zero";
    case err::kTypeMismatch:
      return "Type mismatch";
    case err::kBadFileName:
      return "Bad file name or number";
    case err::kFileNotFound:
      return "File not found";
    case err::kDeviceIo:
      return "Device I/O error";
    case err::kDiskFull:
      return "Disk full";
    case err::kPermissionDenied:
      return "Permission denied";
    case err::kDiskNotReady:
      return "Disk not ready";
    case err::kPathFileAccess:
      return "Path/File access error";
    case err::kPathNotFound:
      return "Path not found";
    case err::kNoSuchMember:
      return "Object doesn't support this property or method";
    case err::kWrongArguments:
      return "Wrong number of arguments or invalid property assignment";
    case err::kDllFunctionNotFound:
      return "Specified DLL function not found";
    default:
      return "Application-defined or object-defined error";
  }
}

RuntimeFailure::RuntimeFailure(int number)
    : std::runtime_error(ClassicErrorDescription(number)), number_(number) {}

RuntimeFailure::RuntimeFailure(int number, const std::string& description)
    : std::runtime_error(description), number_(number) {}

}  // namespace zav
