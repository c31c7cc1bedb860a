// The route table: every request passes the caller check first, then goes to its route.
#pragma once

#include <memory>

#include "tools/service/http.h"
#include "tools/service/service.h"

namespace idcard {

class Session;

void route(Service::Impl& service, Request req, const std::shared_ptr<Session>& session);

}  // namespace idcard
