#pragma once

#include <string>
#include <string_view>

namespace testing_support::rawhttp {

// A listening TCP socket on 127.0.0.1 and a free port; throws when there is none.
int listenOnLoopback(int& port);
// The request's head (up to the blank line), or what came before the peer left.
std::string readRequestHead(int connection);
// Whether every byte went out.
bool sendAll(int connection, std::string_view bytes);

}  // namespace testing_support::rawhttp
