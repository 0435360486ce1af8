#include "metrics/MetricsRouter.h"

#include <boost/beast/http/field.hpp>
#include <boost/beast/http/verb.hpp>

#include "metrics/BasicAuth.h"
#include "metrics/SiteMetrics.h"
#include "metrics/StatusPage.h"

namespace metrics {

namespace http = boost::beast::http;

namespace {

constexpr const char* kExpositionType = "text/plain; version=0.0.4; charset=utf-8";
constexpr const char* kJsonType = "application/json";
constexpr const char* kTextType = "text/plain; charset=utf-8";
constexpr const char* kChallenge = "Basic realm=\"vestrel\", charset=\"UTF-8\"";

HttpResponse Make(http::status status, const HttpRequest& request, std::string body,
                  const char* type) {
  HttpResponse response(status, request.version());
  response.set(http::field::content_type, type);
  response.keep_alive(request.keep_alive());
  response.body() = std::move(body);
  response.prepare_payload();
  return response;
}

}  // namespace

MetricsRouter::MetricsRouter(std::unique_ptr<BasicAuth> auth) : auth_(std::move(auth)) {}

MetricsRouter::~MetricsRouter() = default;

HttpResponse MetricsRouter::Answer(const HttpRequest& request) {
  if (auth_ != nullptr) {
    const auto header = request.find(http::field::authorization);
    if (header == request.end() ||
        !auth_->Allows(std::string_view(header->value().data(), header->value().size()))) {
      HttpResponse response =
          Make(http::status::unauthorized, request, "Unauthorized\n", kTextType);
      response.set(http::field::www_authenticate, kChallenge);
      return response;
    }
  }
  if (request.method() != http::verb::get) {
    HttpResponse response =
        Make(http::status::method_not_allowed, request, "Method Not Allowed\n", kTextType);
    response.set(http::field::allow, "GET");
    return response;
  }
  const auto target = request.target();
  const auto path = target.substr(0, target.find('?'));
  if (path == "/metrics") {
    return Make(http::status::ok, request, SiteMetrics::Get().Exposition(), kExpositionType);
  }
  if (path == "/status") {
    return Make(http::status::ok, request, StatusJson(SiteMetrics::Get()), kJsonType);
  }
  return Make(http::status::not_found, request, "Not Found\n", kTextType);
}

HttpResponse MetricsRouter::Refusal(http::status status) {
  HttpResponse response(status, 11);
  response.set(http::field::content_type, kTextType);
  response.keep_alive(false);
  response.body() = std::string(http::obsolete_reason(status)) + "\n";
  response.prepare_payload();
  return response;
}

}  // namespace metrics
