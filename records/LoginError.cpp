#include "records/LoginError.h"

std::string LoginErrorText(uint32_t code) {
  switch (code) {
    case kLoginWrongPassword:
      return "wrong user name or password";
    case kLoginNoFreeLink:
      return "the device has no free link";
    case kLoginVersionMismatch:
      return "the device speaks another protocol version";
    case kLoginUnreachable:
      return "cannot be reached";
    default:
      return "login failed";
  }
}

std::string LoginFailureText(uint32_t code) {
  return LoginErrorText(code) + " (error " + std::to_string(code) + ")";
}
