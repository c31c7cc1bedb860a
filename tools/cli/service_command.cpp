#include "tools/cli/service_command.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/host.h"
#include "tools/service/service.h"
#include "tools/service/stop_signals.h"

namespace idcard {

namespace {

// The command line the service manager starts: this program, and the configuration file by its
// full path (the manager starts services in the system's folder).
std::string service_command_line(const Options& o, std::string* error) {
  // Built by appending (GCC 12 warns falsely on the optimised concatenation).
  std::string line = "\"";
  line.append(plat::executable_path().c_str()).append("\" service run");
  if (o.config.empty()) return line;
  std::error_code ec;
  const std::filesystem::path config = std::filesystem::absolute(o.config, ec);
  if (ec) {
    *error = "cannot find the full path of " + o.config;
    return {};
  }
  return line.append(" --config \"").append(config.string()).append("\"");
}

// After a refusal of the system's: on a system without the service manager, adds where the
// background service is found there instead. False, for `ok = call(...) || refused(&error)`.
bool refused(std::string* error) {
  if (!plat::has_service_manager()) error->append(" (Linux: the systemd user unit)");
  return false;
}

int run_in_background(const Options& o) {
  ServeOptions options = o.service;
  if (options.log_file.empty()) options.log_file = program_folder() + kServiceLog;
  const plat::ServiceBody body{
      [&o, &options](const std::function<void()>& serving) {
        return serve(o.reader, options, ServeRun{false, serving});
      },
      [] { StopSignals::request_stop(); }};
  int status = 1;
  std::string error;
  switch (plat::run_as_service(kServiceName, body, &status, &error)) {
    case plat::ServiceRun::Ran:
      return status;
    case plat::ServiceRun::NotStartedByManager:
      error = "not started by the service manager (idcard service start starts the service)";
      break;
    case plat::ServiceRun::Failed:
      refused(&error);
      break;
  }
  std::fprintf(stderr, "idcard service run: %s\n", error.c_str());
  return 2;
}

}  // namespace

int service_command(const Options& o) {
  std::string error;
  bool ok = false;
  const char* done = "";
  switch (o.action) {
    case ServiceAction::Run:
      return run_in_background(o);
    case ServiceAction::Install: {
      const std::string line = service_command_line(o, &error);
      ok = !line.empty() &&
           (plat::install_service({kServiceName, kServiceDisplayName, kServiceDescription, line},
                                  &error) ||
            refused(&error));
      done = "installed: it starts with the system (idcard service start starts it now)";
      break;
    }
    case ServiceAction::Uninstall:
      ok = plat::uninstall_service(kServiceName, &error) || refused(&error);
      done = "uninstalled";
      break;
    case ServiceAction::Start:
      ok = plat::start_service(kServiceName, &error) || refused(&error);
      done = "started";
      break;
    case ServiceAction::Stop:
      ok = plat::stop_service(kServiceName, &error) || refused(&error);
      done = "stopped";
      break;
    case ServiceAction::None:
      break;
  }
  if (!ok) {
    std::fprintf(stderr, "idcard service: %s\n", error.c_str());
    return 1;
  }
  std::printf("idcard service: %s %s\n", kServiceName, done);
  return 0;
}

}  // namespace idcard
