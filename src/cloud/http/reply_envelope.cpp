#include "cloud/http/reply_envelope.h"

#include "base/helpers/json_helpers.h"
#include "cloud/http/request_headers.h"

namespace vistrelle::cloud {

namespace {

bool isSuccessStatus(long status) {
  return status >= 200 && status <= 299;
}

}  // namespace

bool envelopeFlag(const nlohmann::json& reply, std::string_view url, long status) {
  if (!reply.is_object()) return false;
  const auto success = reply.find("success");
  const bool hasSuccess = success != reply.end();
  const bool successTrue = hasSuccess && success->is_boolean() && success->get<bool>();
  if (!isTokenPath(url)) return successTrue;
  // An OAuth2 error object has no "success" either: only a token counts.
  const auto token = reply.find("access_token");
  const bool hasToken =
      token != reply.end() && token->is_string() && !token->get_ref<const std::string&>().empty();
  return isSuccessStatus(status) && hasToken && (!hasSuccess || successTrue);
}

void unpackEnvelope(const nlohmann::json& reply, bool flag, const SuccessBlock& success,
                    const FailureBlock& failure) {
  if (!reply.is_object()) {
    if (failure) failure(HttpError::tdNetworkError(std::string(HttpError::kWrongReplyTypeText)));
    return;
  }
  if (!success) {
    if (failure) failure(HttpError::tdNetworkError(std::string(HttpError::kNoSuccessBlockText)));
    return;
  }
  ReplyEnvelope envelope;
  envelope.success = flag;
  if (const auto msg = reply.find("msg"); msg != reply.end() && msg->is_string()) {
    envelope.msg = msg->get<std::string>();
  }
  if (const auto data = reply.find("data"); data != reply.end()) {
    if (data->is_object()) {
      envelope.dataObject = *data;
    } else if (data->is_array()) {
      envelope.dataArray = *data;
    } else if (data->is_string()) {
      envelope.dataText = data->get<std::string>();
    }
  }
  envelope.reply = reply;
  success(envelope);
}

bool meansTokenExpired(long status, std::string_view url) {
  return status == 424 && !isTokenPath(url);
}

void handleJsonReply(long status, std::string_view body, std::string_view url,
                     const SuccessBlock& success, const FailureBlock& failure) {
  const std::optional<nlohmann::json> reply = base::jsonStringToDictionary(body);
  if (reply) {
    unpackEnvelope(*reply, envelopeFlag(*reply, url, status), success, failure);
    return;
  }
  if (!failure) return;
  if (isSuccessStatus(status)) {
    failure(HttpError::cannotParseResponse(body, status));
  } else {
    failure(HttpError::status(status));
  }
}

}  // namespace vistrelle::cloud
