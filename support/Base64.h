// Base64 (RFC 4648 section 4, standard alphabet, padded, no line breaks). Any thread.
#pragma once

#include <string>

// A length of zero or less gives an empty text.
std::string Base64Encode(const unsigned char* data, int length);
