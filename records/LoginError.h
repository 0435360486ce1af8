// The device SDK's login error codes that Vestrel tells apart, and the one text each has in
// the site check, the status page and wherever else a failed login is shown. Stateless; any
// thread.
#pragma once

#include <cstdint>
#include <string>

enum LoginError : uint32_t {
  kLoginWrongPassword = 1,
  kLoginNoFreeLink = 5,
  kLoginVersionMismatch = 6,
  kLoginUnreachable = 7,  // refused, unreachable, or no answer in time
};

// What a login error code means: "wrong user name or password"; "login failed" for the others.
std::string LoginErrorText(uint32_t code);
// The text with its code: "cannot be reached (error 7)".
std::string LoginFailureText(uint32_t code);
