// The Windows service manager: installing, removing, starting and stopping a service, and running
// this process as one.
#include <windows.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/host.h"
#include "platform/win32/service_restarts.h"

namespace plat {

namespace {

// How long start_service and stop_service wait for the service to get there.
constexpr auto kStateWait = std::chrono::seconds(30);
// What the service tells the manager to wait for a start or a stop at most.
constexpr DWORD kPendingHintMs = 30000;

class Handle {
 public:
  explicit Handle(SC_HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_) CloseServiceHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  SC_HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  SC_HANDLE h_;
};

std::string system_message(DWORD code) { return error_text(code); }

// "what: the system's message", for the last error.
bool fail(std::string* error, const std::string& what) {
  *error = what + ": " + system_message(GetLastError());
  return false;
}

// The service `name`, opened for `access`; a message naming the service when there is none.
SC_HANDLE open_service(SC_HANDLE manager, const std::string& name, DWORD access, std::string* error) {
  SC_HANDLE s = OpenServiceA(manager, name.c_str(), access);
  if (!s && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST)
    *error = "no service named " + name + " is installed";
  else if (!s)
    fail(error, "cannot open the service " + name);
  return s;
}

// Waits while the service is in `pending`; its state after that, or 0 when it cannot be asked.
DWORD wait_while(SC_HANDLE service, DWORD pending) {
  const auto until = std::chrono::steady_clock::now() + kStateWait;
  SERVICE_STATUS status{};
  for (;;) {
    if (!QueryServiceStatus(service, &status)) return 0;
    if (status.dwCurrentState != pending || std::chrono::steady_clock::now() > until)
      return status.dwCurrentState;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

std::string exit_of(SC_HANDLE service) {
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service, &status)) return "";
  if (status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR)
    return " (exit status " + std::to_string(status.dwServiceSpecificExitCode) + ")";
  if (status.dwWin32ExitCode != NO_ERROR) return " (" + system_message(status.dwWin32ExitCode) + ")";
  return "";
}

// Asks a running service to stop and waits until it has; true when it is not running.
bool stop_and_wait(SC_HANDLE service, const std::string& name, std::string* error) {
  SERVICE_STATUS status{};
  if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    const DWORD code = GetLastError();
    if (code == ERROR_SERVICE_NOT_ACTIVE) return true;
    if (code != ERROR_SERVICE_CANNOT_ACCEPT_CTRL) return fail(error, "cannot stop the service " + name);
  }
  const DWORD state = wait_while(service, SERVICE_STOP_PENDING);
  if (state == SERVICE_STOPPED) return true;
  *error = "the service " + name + " did not stop within " +
           std::to_string(std::chrono::seconds(kStateWait).count()) + " seconds";
  return false;
}

}  // namespace

bool has_service_manager() { return true; }

bool install_service(const ServiceSetup& setup, std::string* error) {
  Handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!manager) return fail(error, "cannot reach the service manager (run as an administrator?)");
  Handle service(CreateServiceA(manager.get(), setup.name.c_str(), setup.display_name.c_str(),
                                SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                SERVICE_ERROR_NORMAL, setup.command_line.c_str(), nullptr, nullptr,
                                nullptr, nullptr, nullptr));
  if (!service) {
    if (GetLastError() == ERROR_SERVICE_EXISTS) {
      *error = "a service named " + setup.name + " is installed already (uninstall it first)";
      return false;
    }
    return fail(error, "cannot install the service " + setup.name);
  }
  std::string description = setup.description;
  SERVICE_DESCRIPTIONA text{description.data()};
  // Restarted after each failure, after the delays of service_restarts.h.
  SC_ACTION actions[win32::kServiceRestarts];
  for (std::size_t i = 0; i < win32::kServiceRestarts; ++i)
    actions[i] = {SC_ACTION_RESTART, win32::kServiceRestartDelaysMs[i]};
  SERVICE_FAILURE_ACTIONSA failures{win32::kServiceFailureResetSeconds, nullptr, nullptr,
                                    static_cast<DWORD>(win32::kServiceRestarts), actions};
  if (!ChangeServiceConfig2A(service.get(), SERVICE_CONFIG_DESCRIPTION, &text) ||
      !ChangeServiceConfig2A(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failures)) {
    fail(error, "cannot configure the service " + setup.name);
    DeleteService(service.get());  // whole or not at all
    return false;
  }
  return true;
}

bool uninstall_service(const std::string& name, std::string* error) {
  Handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return fail(error, "cannot reach the service manager");
  Handle service(open_service(manager.get(), name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE, error));
  if (!service) return false;
  if (!stop_and_wait(service.get(), name, error)) return false;
  if (!DeleteService(service.get())) return fail(error, "cannot remove the service " + name);
  return true;
}

bool start_service(const std::string& name, std::string* error) {
  Handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return fail(error, "cannot reach the service manager");
  Handle service(open_service(manager.get(), name, SERVICE_START | SERVICE_QUERY_STATUS, error));
  if (!service) return false;
  if (!StartServiceA(service.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
    return fail(error, "cannot start the service " + name);
  const DWORD state = wait_while(service.get(), SERVICE_START_PENDING);
  if (state == SERVICE_RUNNING) return true;
  *error = state == SERVICE_STOPPED ? "the service " + name + " stopped at once" + exit_of(service.get()) +
                                          "; its log says why"
                                    : "the service " + name + " did not start within " +
                                          std::to_string(std::chrono::seconds(kStateWait).count()) +
                                          " seconds";
  return false;
}

bool stop_service(const std::string& name, std::string* error) {
  Handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return fail(error, "cannot reach the service manager");
  Handle service(open_service(manager.get(), name, SERVICE_STOP | SERVICE_QUERY_STATUS, error));
  return service && stop_and_wait(service.get(), name, error);
}

namespace {

// The one service this process runs.
struct Running {
  std::string name;
  const ServiceBody* body = nullptr;
  SERVICE_STATUS_HANDLE handle = nullptr;
  std::mutex mutex;
  SERVICE_STATUS status{};
  int exit = 1;
};
Running* running = nullptr;

void report(DWORD state, DWORD accepted, int exit) {
  std::lock_guard<std::mutex> lock(running->mutex);
  SERVICE_STATUS& s = running->status;
  s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  s.dwCurrentState = state;
  s.dwControlsAccepted = accepted;
  s.dwWin32ExitCode = exit ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
  s.dwServiceSpecificExitCode = static_cast<DWORD>(exit);
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  s.dwCheckPoint = pending ? s.dwCheckPoint + 1 : 0;
  s.dwWaitHint = pending ? kPendingHintMs : 0;
  SetServiceStatus(running->handle, &s);
}

DWORD WINAPI on_control(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      report(SERVICE_STOP_PENDING, 0, 0);
      running->body->stop();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI service_main(DWORD, LPSTR*) {
  running->handle = RegisterServiceCtrlHandlerExA(running->name.c_str(), on_control, nullptr);
  if (!running->handle) return;
  report(SERVICE_START_PENDING, 0, 0);
  running->exit = running->body->run(
      [] { report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN, 0); });
  report(SERVICE_STOPPED, 0, running->exit);
}

}  // namespace

ServiceRun run_as_service(const std::string& name, const ServiceBody& body, int* status,
                          std::string* error) {
  static Running one;
  one.name = name;
  one.body = &body;
  running = &one;
  SERVICE_TABLE_ENTRYA table[] = {{one.name.data(), service_main}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) {
    if (GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return ServiceRun::NotStartedByManager;
    fail(error, "cannot reach the service manager");
    return ServiceRun::Failed;
  }
  *status = one.exit;
  return ServiceRun::Ran;
}

}  // namespace plat
