#include "tools/facesim/FaultyResponse.h"

#include "tools/facesim/GzipBomb.h"

namespace facesim {

namespace http = boost::beast::http;

namespace {

constexpr size_t kHugeBody = 5 * 1024 * 1024;
constexpr int kDeepNesting = 100000;
// Not JSON, and not even UTF-8 throughout (0xC3 0x28 is a broken sequence).
constexpr const char* kGarbageBody = "<html><body>not json \xC3\x28 {{{ ]]]</body></html>";

// The usual answer (an object; "{}" when it is not one) with one more member, value as written.
std::string WithMember(const std::string& body, const std::string& name, const std::string& value) {
  std::string text = body.size() >= 2 && body.back() == '}' ? body : std::string("{}");
  text.pop_back();
  return text + (text.size() > 1 ? ",\"" : "\"") + name + "\":" + value + "}";
}

// The usual answer with a "padding" member that brings it to 5 MiB.
std::string Padded(const std::string& body) {
  const std::string shell = WithMember(body, "padding", "\"\"");
  const size_t fill = shell.size() < kHugeBody ? kHugeBody - shell.size() : 0;
  return WithMember(body, "padding", "\"" + std::string(fill, 'x') + "\"");
}

}  // namespace

Delivery BuildResponse(const ServiceAnswer& answer, const std::optional<AnswerFault>& fault,
                       HttpResponse* response) {
  response->result(static_cast<unsigned>(answer.status));
  response->set(http::field::server, "vestrel-facesim");
  response->set(http::field::content_type, "application/json");
  response->body() = answer.body;
  if (!fault) return Delivery::Whole;
  switch (fault->kind) {
    case AnswerFault::Kind::Status:
      response->result(static_cast<unsigned>(fault->status));
      response->body() = ErrorAnswer(fault->status, "status set by the script").body;
      break;
    case AnswerFault::Kind::Garbage:
      response->result(http::status::ok);
      response->set(http::field::content_type, "text/html");
      response->body() = kGarbageBody;
      break;
    case AnswerFault::Kind::Empty:
      response->result(http::status::ok);
      response->body().clear();
      break;
    case AnswerFault::Kind::Deep:
      response->result(http::status::ok);
      response->body() = std::string(kDeepNesting, '[') + std::string(kDeepNesting, ']');
      break;
    case AnswerFault::Kind::Huge:
      response->body() = Padded(answer.body);
      break;
    case AnswerFault::Kind::Body:
      response->result(http::status::ok);
      response->body() = fault->body;
      break;
    case AnswerFault::Kind::GzipBomb:
      response->result(http::status::ok);
      response->set(http::field::content_encoding, "gzip");
      response->body() = *GzipBomb();
      break;
    case AnswerFault::Kind::Wide:
      // The mode pads the list its answer has; an answer without one gets a member instead.
      if (!answer.widened) {
        std::string objects;
        objects.reserve(3 * static_cast<size_t>(fault->count) + 2);
        objects += '[';
        for (int i = 0; i < fault->count; ++i) objects += i == 0 ? "{}" : ",{}";
        response->body() = WithMember(answer.body, "padding", objects + "]");
      }
      break;
    case AnswerFault::Kind::Close:
      return Delivery::Close;
    case AnswerFault::Kind::Truncated:
      return Delivery::Truncated;
    case AnswerFault::Kind::Drip:
      return Delivery::Drip;
    case AnswerFault::Kind::Headers:
      response->result(http::status::ok);
      return Delivery::EndlessHeaders;
    case AnswerFault::Kind::Slow:
      break;
  }
  return Delivery::Whole;
}

}  // namespace facesim
