// The doctor's side of the live checks: the request built from what the file checks found, sent
// to a reader process of the doctor's own, so that a driver that crashes or hangs when it is loaded
// or called ends that process, never the doctor, and becomes a finding.
#include <chrono>
#include <string>

#include "tools/doctor/checks.h"
#include "tools/editions/library.h"
#include "tools/reader/messages.h"
#include "tools/reader/reader_process.h"

namespace idcard::doctor {

namespace {

void add(Report& r, const char* check, Status status, std::string text, std::string fix = {}) {
  r.findings.push_back({check, "", status, std::move(text), std::move(fix)});
}

// Why the live checks cannot run, or empty.
std::string skip_reason(const Options& o, const Deployment& d) {
  if (!o.live) return "--static: the reader was not asked";
  if (!d.edition) return "no edition found, so it is not known how it calls the driver";
  if (!d.driver.unusable.empty())
    return "the driver " + d.driver.file + " is not loaded: " + d.driver.unusable;
  if (!image::same_architecture(d.driver.image, d.host))
    return d.driver.file + " is for " + image::architecture(d.driver.image) + ", this idcard for " +
           image::architecture(d.host) + ": it cannot load it";
  return "";
}

bool loadable(const Located& l, const Deployment& d) {
  return !l.path.empty() && l.unusable.empty() && image::same_architecture(l.image, d.host);
}

std::string file_of(const std::string& path) { return path.substr(plat::folder_of(path).size()); }

// A reader process that hung or ended in the checks: the library it was in, in words, with the fix.
void fault_finding(const ReaderAnswer& a, const LiveRequest& q, int seconds, Report& r) {
  const bool in_decoder = a.step == "decoder" || (a.step == "load" && a.call == q.decoder);
  const std::string path = a.step == "load" && a.call != kProfileExport ? a.call
                           : in_decoder                                  ? q.decoder
                                                                         : q.driver;
  const std::string what = (in_decoder ? "the photo decoder " : "the driver ") + path;
  const std::string fix = "replace " + file_of(path) +
                          " with the reader maker's current one for this system, then run the doctor again";
  if (a.fault == ReaderFault::Timeout) {
    add(r, "live", Status::Fail,
        what + " did not answer within " + std::to_string(seconds) + " s " +
            (a.step == "load" ? "when loaded" : "in " + a.call) + ": the application hangs there too",
        "check that the reader is plugged in and switched on; if it is, " + fix);
    return;
  }
  add(r, "live", Status::Fail,
      what + " crashed " + (a.step == "load" ? "when loaded" : "in " + a.call) +
          ": the application crashes there too (" + a.message + ")",
      fix);
}

// Runs the live checks in a reader process; their findings, or one saying how the process failed.
Report run_live(const Options& o, const LiveRequest& q) {
  ReaderOptions ro;
  ro.host = o.reader_host;
  ReaderProcess process(ro);
  std::string body;
  const ReaderAnswer a = process.request(reader::kDoctor, reader::text_of(live_request_json(q)),
                                         std::chrono::seconds(o.reader_timeout), &body);
  process.stop();
  Report r;
  if (a.fault == ReaderFault::Timeout || a.fault == ReaderFault::Crashed) {
    fault_finding(a, q, o.reader_timeout, r);
  } else if (a.fault == ReaderFault::NoReader) {
    add(r, "live", Status::Skipped, "live checks skipped: " + a.message);
  } else if (!findings_from_json(reader::parse_json(body), &r)) {
    const reader::Json d = reader::parse_json(body);
    add(r, "live", Status::Skipped,
        "live checks skipped: the reader process answered " +
            (d.is_object() ? d.value("message", std::string("no findings")) : std::string("no findings")));
  }
  return r;
}

}  // namespace

void check_live(const Options& o, const Deployment& d, Report& r) {
  if (const std::string why = skip_reason(o, d); !why.empty()) {
    add(r, "live", Status::Skipped, "live checks skipped: " + why);
    return;
  }
  LiveRequest q;
  q.prefix = d.edition->driver_prefix;
  q.open_call = d.edition->open.name;
  q.driver = d.driver.path;
  if (d.edition->serial_driver && loadable(d.serial_driver, d)) q.serial_driver = d.serial_driver.path;
  if (loadable(d.decoder, d)) q.decoder = d.decoder.path;
  q.port = o.port;
  q.card = o.card;
  Report live = run_live(o, q);
  for (Finding& f : live.findings) r.findings.push_back(std::move(f));
  if (q.decoder.empty() && !d.decoder.path.empty()) {
    add(r, "decoder", Status::Skipped,
        "the photo decoder " + d.decoder.file + " was not tried: " +
            (d.decoder.unusable.empty() ? "it is for " + image::architecture(d.decoder.image) +
                                              ", this idcard for " + image::architecture(d.host)
                                        : d.decoder.unusable));
  }
}

}  // namespace idcard::doctor
