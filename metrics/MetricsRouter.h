// What the metrics listener answers to one request: GET /metrics (the Prometheus text
// exposition), GET /status (StatusPage.h), 404 for any other path, 405 for any other method,
// and, with basic auth on, 401 with a WWW-Authenticate challenge before anything else when the
// credentials are missing or wrong. The listener's I/O thread uses it.
#pragma once

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <memory>

namespace metrics {

class BasicAuth;

using HttpRequest = boost::beast::http::request<boost::beast::http::string_body>;
using HttpResponse = boost::beast::http::response<boost::beast::http::string_body>;

class MetricsRouter {
 public:
  // auth null: every request is answered without credentials.
  explicit MetricsRouter(std::unique_ptr<BasicAuth> auth);
  ~MetricsRouter();
  MetricsRouter(const MetricsRouter&) = delete;
  MetricsRouter& operator=(const MetricsRouter&) = delete;

  HttpResponse Answer(const HttpRequest& request);

  // The answer to a request that is refused before it was read whole (431 for headers over
  // the limit, 413 for a body over it, 400 for one that is not HTTP); the connection closes.
  static HttpResponse Refusal(boost::beast::http::status status);

 private:
  const std::unique_ptr<BasicAuth> auth_;
};

}  // namespace metrics
