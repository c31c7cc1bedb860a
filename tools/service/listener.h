// The listening socket: bound once at start, accepting connections up to the limit until stop.
#pragma once

#include <string>

#include "tools/service/addresses.h"
#include "tools/service/service.h"

namespace idcard {

// Binds `address`; false with a message.
bool bind_listener(Service::Impl& service, const ListenAddress& address, std::string* error);
// Accepts connections until the acceptor closes; beyond kMaxConnections open ones a new
// connection is closed before anything is read.
void accept_connections(Service::Impl& service);

}  // namespace idcard
