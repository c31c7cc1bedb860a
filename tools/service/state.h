// What the rooms of the service share: its options, the callers it answers, the network context,
// the reader and the registry of event streams. Routes see only the rooms they use (routes.h).
#pragma once

#include <cstdio>
#include <memory>
#include <set>

#include "tools/editions/options.h"
#include "tools/service/caller_check.h"
#include "tools/service/events.h"
#include "tools/service/http.h"
#include "tools/service/options.h"
#include "tools/service/reads.h"
#include "tools/service/routes.h"
#include "tools/service/service.h"

namespace idcard {

class Session;

struct Service::Impl {
  Impl(ReaderOptions r, ServeOptions s, std::unique_ptr<ReaderCalls> calls)
      : reader(std::move(r)),
        options(std::move(s)),
        reads(ioc, reader.edition_name, reader.port,
              calls ? std::move(calls) : reader_process_calls(reader), options.reader_timeout) {}

  ReaderOptions reader;
  ServeOptions options;
  Callers callers;

  // Before ioc: sessions still queued in it count themselves out.
  std::set<Session*> sessions;  // every open connection
  net::io_context ioc{1};
  tcp::acceptor acceptor{ioc};
  Reads reads;  // after ioc: stopped before it, as its calls post their answers to it
  EventHub events{ioc, reads, options.poll_interval};
  const Rooms rooms{callers, reads, events};
  bool stopping = false;
  bool finished = false;
  std::FILE* log_to = stderr;  // the request log: standard error or the --log file
  ReaderAnswer started;        // the reader process's start: its driver, and a notice

  void log(const RequestInfo& info, unsigned status) const;
};

}  // namespace idcard
