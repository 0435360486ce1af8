// The HTTP response to one request: the service's usual answer, or what an armed fault makes of
// it, and how it is to go out. Plain functions: any thread.
#pragma once

#include <boost/beast/http.hpp>
#include <optional>

#include "tools/facesim/ScriptCommand.h"
#include "tools/facesim/ServiceMode.h"

namespace facesim {

using HttpResponse = boost::beast::http::response<boost::beast::http::string_body>;

enum class Delivery {
  Whole,      // written as it is
  Close,      // nothing written: the connection is closed
  Truncated,  // half the body under a Content-Length larger than the whole, then closed
  Drip,       // written one byte at a time, fault->seconds apart
  EndlessHeaders,  // the status line, then header lines that never end, until a bound
};

// Fills *response (version and keep-alive already set) from the answer and the fault. Slow
// only delays and changes nothing here.
Delivery BuildResponse(const ServiceAnswer& answer, const std::optional<AnswerFault>& fault,
                       HttpResponse* response);

}  // namespace facesim
