#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cloud/http/http_error.h"

namespace vistrelle::cloud {

// What a success block receives: the reply's flag, "msg", "data" by its type,
// and the whole reply.  It is called for a false flag too: the caller decides.
struct ReplyEnvelope {
  bool success = false;
  std::string msg;                           // "" when absent or not text
  std::optional<nlohmann::json> dataObject;  // "data" when it is an object
  std::optional<nlohmann::json> dataArray;   // "data" when it is an array
  std::optional<std::string> dataText;       // "data" when it is text
  nlohmann::json reply;                      // the whole reply object
};

using SuccessBlock = std::function<void(const ReplyEnvelope& envelope)>;
using FailureBlock = std::function<void(const HttpError& error)>;

// The reply's flag.  "success" when it is a Boolean, false otherwise; on the
// token path, whose reply is a bare OAuth2 object, a 2xx reply with a
// non-empty "access_token" and no "success" other than true.
bool envelopeFlag(const nlohmann::json& reply, std::string_view url, long status);

// Hands an envelope over: to the success block when there is one, else
// TDNetworkError "没有传递成功回调" to the failure block; a reply that is not an
// object gets TDNetworkError "返回数据类型错误".  At most one block runs.
void unpackEnvelope(const nlohmann::json& reply, bool flag, const SuccessBlock& success,
                    const FailureBlock& failure);

// Whether a reply means that the session's access token expired: 424, except
// on the token path (a refresh that meets 424 must not start another).
bool meansTokenExpired(long status, std::string_view url);

// The reply handling of a JSON request whose reply arrived, with any status:
// a JSON object body is unpacked as an envelope (also for a failed status);
// otherwise a 2xx reply is the -1017 error and any other the status error.
// At most one block runs, and exactly one when a failure block is given or
// the body is a JSON object with a success block.
void handleJsonReply(long status, std::string_view body, std::string_view url,
                     const SuccessBlock& success, const FailureBlock& failure);

}  // namespace vistrelle::cloud
