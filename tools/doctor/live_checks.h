// The doctor's live checks: the folder's driver loaded and asked which ports answer, the SAM's
// status and whether a card lies on the reader, and the decoder asked to decode a probe photo.
// They run in the reader process (idcard-reader), so that a driver that crashes or hangs ends
// that process, never the doctor: the request and the findings cross the pipes as JSON.
#pragma once

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "driver/binding.h"
#include "tools/doctor/doctor.h"

namespace idcard::doctor {

// What the live checks need, and nothing more, so that they can run in a process of their own.
struct LiveRequest {
  drv::Prefix prefix = drv::Prefix::Qdx;
  std::string open_call;  // the edition's call that opens a port, named in a fix
  // The files to load; empty where one is not to be loaded.
  std::string driver, serial_driver, decoder;
  int port = 0;      // the port the application opens; 0: any
  std::string card;  // a card profile for a simulated reader
};

// Told before each load and call of the driver or decoder: the step (load, ports, sam, card,
// decoder) and the call ("OpenPort(1001)", the file loaded), so that a crash or a hang names it.
using LiveProgress = std::function<void(const char* step, const std::string& call)>;

// The live checks through the driver: ports, SAM, card, and the decoder on a probe photo.
Report live_checks(const LiveRequest& request, const LiveProgress& progress = {});

// The request and the findings as the reader process's messages carry them.
nlohmann::ordered_json live_request_json(const LiveRequest& q);
// False for a document that is no request.
bool live_request_from_json(const nlohmann::ordered_json& d, LiveRequest* q);
nlohmann::ordered_json findings_json(const Report& r);
// False for a document that holds no findings.
bool findings_from_json(const nlohmann::ordered_json& d, Report* r);

// "0x90"
std::string hex(int status);

}  // namespace idcard::doctor
