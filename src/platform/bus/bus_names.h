#pragma once

#include <string_view>

namespace vistrelle::bus {

// The D-Bus rules for names and texts, checked before anything is sent so
// that a bad name is an error value at the call, never a surprise from the
// library or the daemon.

// "/" or "/a/b_c/D1": elements of [A-Za-z0-9_], no empty element, no trailing "/".
bool isValidObjectPath(std::string_view path);
// "org.freedesktop.login1.Session": two or more elements of [A-Za-z0-9_], none
// starting with a digit, 255 bytes at most.  Error names follow the same rule.
bool isValidInterfaceName(std::string_view name);
// "SetBrightness": one element as above.
bool isValidMemberName(std::string_view name);
// A well-known name ("org.freedesktop.login1", '-' allowed) or a unique one (":1.42").
bool isValidBusName(std::string_view name);
// Valid UTF-8 without NUL, as every D-Bus string must be.
bool isValidUtf8Text(std::string_view text);

}  // namespace vistrelle::bus
