// The address nebview serves on, as --listen gives it.
#pragma once

#include <string>

namespace NebView {

// "ADDR:PORT", "[IPv6]:PORT" or "ADDR" (the port stays as it is): a host name or address
// of letters, digits, '.', '-', ':' and '%' (an IPv6 zone), a port of 0..65535. False, and
// nothing changed, when malformed.
bool parseListen(const std::string& text, std::string& host, int& port);

}  // namespace NebView
