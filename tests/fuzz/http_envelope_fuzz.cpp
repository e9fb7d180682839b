// Fuzz target: the HTTP layer's reply handling, fed any status, path and body
// as a service (or an impostor) might answer.  Checked: at most one block
// runs, and exactly the one the rules name (a JSON object goes to the success
// block when there is one; otherwise the failure block gets -1017 for a 2xx,
// the status error for any other, or "没有传递成功回调"); the success block's
// flag follows "success", or on the token path a 2xx with a non-empty
// "access_token"; "data" arrives under at most one type; and only a 424
// outside the token path means an expired session.
// Input: one flags byte (which blocks exist, which path), the status (two
// bytes), a sized path when the flags ask for one, then the body.
// Links: vistrelle_cloud_http

#include <optional>
#include <string>

#include "base/helpers/json_helpers.h"
#include "base/helpers/utf8.h"
#include "cloud/http/reply_envelope.h"
#include "cloud/http/request_headers.h"
#include "fuzz/fuzz_support.h"

using namespace vistrelle::cloud;
using vistrelle::fuzz::ByteReader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader input(data, size);
  const uint8_t flags = input.u8();
  const bool withSuccess = (flags & 1) != 0;
  const bool withFailure = (flags & 2) != 0;
  const long status = input.u16() % 1000;
  std::string path;
  switch ((flags >> 2) & 3) {
    case 0:
      path = "/api/admin/user/orvex/info";
      break;
    case 1:
      path = "/api/auth/oauth2/token";
      break;
    case 2:
      path = "https://host.example/api/auth/oauth2/token?grant_type=refresh_token";
      break;
    default:
      path = std::string(input.sizedText());
      break;
  }
  const std::string body(input.restText());

  int successCalls = 0;
  int failureCalls = 0;
  std::optional<ReplyEnvelope> envelope;
  std::optional<HttpError> error;
  SuccessBlock success = [&](const ReplyEnvelope& e) {
    ++successCalls;
    envelope = e;
  };
  FailureBlock failure = [&](const HttpError& e) {
    ++failureCalls;
    error = e;
  };
  handleJsonReply(status, body, path, withSuccess ? success : nullptr,
                  withFailure ? failure : nullptr);

  FUZZ_CHECK(successCalls + failureCalls <= 1);
  const std::optional<nlohmann::json> reply = vistrelle::base::jsonStringToDictionary(body);
  const bool is2xx = status >= 200 && status <= 299;
  if (reply && withSuccess) {
    FUZZ_CHECK(successCalls == 1);
  } else if (withFailure) {
    FUZZ_CHECK(failureCalls == 1);
  } else {
    FUZZ_CHECK(successCalls + failureCalls == 0);
  }

  if (successCalls == 1) {
    FUZZ_CHECK(envelope->reply == *reply);
    const auto flag = reply->find("success");
    const bool successTrue = flag != reply->end() && flag->is_boolean() && flag->get<bool>();
    if (!isTokenPath(path)) {
      FUZZ_CHECK(envelope->success == successTrue);
    } else if (envelope->success) {
      const auto token = reply->find("access_token");
      FUZZ_CHECK(is2xx && token != reply->end() && token->is_string() &&
                 !token->get<std::string>().empty());
      FUZZ_CHECK(flag == reply->end() || successTrue);
    }
    const auto msg = reply->find("msg");
    FUZZ_CHECK(envelope->msg ==
               (msg != reply->end() && msg->is_string() ? msg->get<std::string>() : ""));
    const int shapes = envelope->dataObject.has_value() + envelope->dataArray.has_value() +
                       envelope->dataText.has_value();
    FUZZ_CHECK(shapes <= 1);
  }
  if (failureCalls == 1) {
    if (reply) {
      FUZZ_CHECK(error->kind() == HttpError::Kind::network);
      FUZZ_CHECK(error->reason() == HttpError::kNoSuccessBlockText);
    } else if (is2xx) {
      FUZZ_CHECK(error->code() == HttpError::kCannotParseResponseCode);
      FUZZ_CHECK(error->domain() == HttpError::kParseDomain);
      FUZZ_CHECK(error->failureReason() ==
                 (vistrelle::base::isValidUtf8(body) ? body : std::string()));
    } else {
      FUZZ_CHECK(error->kind() == HttpError::Kind::status);
      FUZZ_CHECK(error->statusCode() == status);
    }
  }
  FUZZ_CHECK(meansTokenExpired(status, path) ==
             (status == 424 && path.find("/api/auth/oauth2/token") == std::string::npos));
  return 0;
}
