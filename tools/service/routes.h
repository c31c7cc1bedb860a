// The route table: each entry names its path and its handler, wrapped in the caller check where
// the entry needs it.
#pragma once

#include <memory>

#include "tools/service/caller_check.h"
#include "tools/service/events.h"
#include "tools/service/http.h"
#include "tools/service/reads.h"

namespace idcard {

class Session;

// What the routes may use: the callers they answer, the reader, the registry of event streams.
struct Rooms {
  const Callers& callers;
  Reads& reads;
  EventHub& events;
};

void route(const Rooms& rooms, Request req, const std::shared_ptr<Session>& session);

}  // namespace idcard
