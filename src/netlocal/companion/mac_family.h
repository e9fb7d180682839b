#pragma once

#include <string>
#include <string_view>

namespace vistrelle::netlocal {

// The family name the home window shows for a model identifier ("Mac14,3",
// "MacBookPro18,1", ...): the first matching row of the table wins, and
// anything unknown, the empty text included, is "Mac".
std::string macFamilyForModel(std::string_view modelIdentifier);

// The host's model identifier: the first line of the firmware's product-name
// file (on the machines the table lists, the model identifier), or the empty
// text when it cannot be read.
std::string readHostModel(const std::string& productNamePath = "/sys/class/dmi/id/product_name");

}  // namespace vistrelle::netlocal
