// What the rooms of the service share: its options, the callers it answers, the loaded library
// (worker thread only), the network context, the worker and the event hub.
#pragma once

#include <cstdio>
#include <memory>
#include <set>

#include "tools/editions/library.h"
#include "tools/service/caller_check.h"
#include "tools/service/events.h"
#include "tools/service/http.h"
#include "tools/service/options.h"
#include "tools/service/service.h"
#include "tools/service/worker.h"

namespace idcard {

class Session;

struct Service::Impl {
  Impl(ReaderOptions r, ServeOptions s) : reader(std::move(r)), options(std::move(s)) {}

  ReaderOptions reader;
  ServeOptions options;
  Callers callers;
  Library library;  // touched on the worker thread only

  // Before ioc: sessions still queued in it count themselves out.
  std::set<Session*> sessions;  // every open connection
  net::io_context ioc{1};
  tcp::acceptor acceptor{ioc};
  std::unique_ptr<Worker> worker;  // after ioc: stopped before it, as its jobs post to it
  EventHub events{*this};
  bool stopping = false;
  bool finished = false;
  std::FILE* log_to = stderr;  // the request log: standard error or the --log file

  // A read (or a reader check) on the worker thread, and the clean-up after it: the result files
  // go, the edition's log stays bounded. The document is the answer's body: the card, the reader's
  // state, or the error.
  struct CallResult {
    ReadResult read;
    std::string document;
  };
  CallResult library_call(bool card);
  void remove_result_files() const;
  void log(const RequestInfo& info, unsigned status) const;
};

}  // namespace idcard
