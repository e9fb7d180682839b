#pragma once

#include <optional>
#include <string>

#include "netlocal/socket/socket_data.h"

namespace vistrelle::netlocal {

// `text` (UTF-8) in the encoding named as iconv names it ("UTF-16LE",
// "GBK", "ISO-8859-1"); none for an encoding iconv does not know or a text
// it cannot be written in.
std::optional<Bytes> encodeText(const std::string& text, const std::string& encoding);

}  // namespace vistrelle::netlocal
