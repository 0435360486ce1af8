// A gzip body of about 1 MB that inflates to 1 GiB of zero bytes, for the gzip-bomb fault.
// Built once, on the first call (a few milliseconds), and shared afterwards; any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace facesim {

constexpr uint64_t kGzipBombInflated = uint64_t{1} << 30;

std::shared_ptr<const std::string> GzipBomb();

}  // namespace facesim
