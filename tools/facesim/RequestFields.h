// The members of a JSON request body, read strictly: a member is found only under its exact
// name (a client that writes "Session_Id" for "session_id" is answered 400) and only with the
// type the service expects. Members the service does not read are ignored. One object per
// request, on the io thread.
#pragma once

#include <string>

#include "support/JsonObject.h"

namespace facesim {

class RequestFields {
 public:
  // False when the body is not a JSON object.
  bool Parse(const std::string& body);

  bool Text(const std::string& name, std::string* out);
  // An integer or a double.
  bool Number(const std::string& name, double* out);
  // An integer written without fraction or exponent.
  bool Integer(const std::string& name, int* out);
  bool Object(const std::string& name, RequestFields* out);

  // Why the last call failed, for the 400 answer and the error line.
  const std::string& Error() const { return error_; }

 private:
  // True when the member is there under exactly that name and has one of the two types.
  bool Has(const std::string& name, int type, int otherType, const char* what);

  neb::CJsonObject json_;
  std::string error_;
};

}  // namespace facesim
