#include <windows.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/system_message_win32.h"
#include "tools/kv58/serve/service/program_data_win32.h"
#include "tools/kv58/serve/service/service_command_line.h"
#include "tools/kv58/serve/service/service_log.h"
#include "tools/kv58/serve/service/windows_service.h"

namespace kv58::serve {
namespace {

constexpr DWORD kStartWaitHintMs = 10'000;
constexpr DWORD kStopWaitHintMs = 30'000;
constexpr auto kStopWait = std::chrono::seconds(30); // how long --uninstall-service waits for a stop
constexpr DWORD kRestartDelayMs = 10'000;            // after a failure, as systemd's Restart=on-failure
constexpr DWORD kFailureCountResetSeconds = 24 * 60 * 60;

std::wstring Wide(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  (void)MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) {
    return {};
  }
  const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  (void)WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length,
                            nullptr, nullptr);
  return narrow;
}

struct ServiceHandleCloser {
  void operator()(SC_HANDLE handle) const { (void)CloseServiceHandle(handle); }
};
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;

// The system's words for `error`, and what to do about a refusal.
std::string Reason(DWORD error) {
  std::string reason = SystemMessage(error);
  if (error == ERROR_ACCESS_DENIED) {
    reason += " (run it from a command prompt opened as administrator)";
  }
  return reason;
}

std::wstring ThisProgram() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::filesystem::path LogFolder(const ServiceSetup& setup) {
  if (setup.logFolder) {
    return *setup.logFolder;
  }
  return detail::ProgramDataFolder().value_or(std::filesystem::path(L"C:\\ProgramData") / L"kv58");
}

// The service manager's restart after a failure, as systemd's Restart=on-failure: an exit
// status other than 0 counts as one, not only a crash. A refinement: a manager that refuses
// it leaves the service as installed, and says so.
void RestartOnFailure(SC_HANDLE service, std::ostream& out) {
  SC_ACTION actions[] = {
      {SC_ACTION_RESTART, kRestartDelayMs}, {SC_ACTION_RESTART, kRestartDelayMs}, {SC_ACTION_NONE, 0}};
  SERVICE_FAILURE_ACTIONSW failure{};
  failure.dwResetPeriod = kFailureCountResetSeconds;
  failure.cActions = static_cast<DWORD>(std::size(actions));
  failure.lpsaActions = actions;
  SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
  if (ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure) == 0 ||
      ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag) == 0) {
    out << "kv58 serve: note: the service manager keeps no restart after a failure: "
        << Reason(GetLastError()) << "\n";
  }
}

// The one service this process runs, shared with the service manager's callbacks.
class RunningService {
public:
  RunningService(const ServeFunction& serve, const ServiceSetup& setup)
      : serve_(serve), setup_(setup), name_(Wide(setup.name)) {}

  const std::wstring& Name() const { return name_; }
  int ExitStatus() const { return exitStatus_; }

  void Main() {
    handle_ = RegisterServiceCtrlHandlerExW(name_.c_str(), &RunningService::OnControl, this);
    if (handle_ == nullptr) {
      return;
    }
    Report(SERVICE_START_PENDING, NO_ERROR, 0, kStartWaitHintMs);
    const std::filesystem::path folder = LogFolder(setup_);
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    RotatingLog log(folder / L"serve.log");
    if (!log.IsOpen()) {
      Report(SERVICE_STOPPED, GetLastError() != 0 ? GetLastError() : ERROR_OPEN_FAILED, 0, 0);
      return;
    }
    std::ostream stream(&log);
    // Whatever else writes to the standard streams lands in the log too.
    std::streambuf* const outBefore = std::cout.rdbuf(&log);
    std::streambuf* const errBefore = std::cerr.rdbuf(&log);
    stream << "kv58 serve: started by the service manager as " << setup_.name << "\n";
    Report(SERVICE_RUNNING, NO_ERROR, 0, 0);
    int status = 1;
    try {
      status = serve_(control_, stream);
    } catch (const std::exception& error) {
      stream << "kv58 serve: stopped by an error: " << error.what() << "\n";
    } catch (...) {
      stream << "kv58 serve: stopped by an error\n";
    }
    exitStatus_ = status;
    stream << "kv58 serve: ended with exit status " << status << "\n";
    stream.flush();
    std::cout.rdbuf(outBefore);
    std::cerr.rdbuf(errBefore);
    Report(SERVICE_STOPPED, status == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR, static_cast<DWORD>(status),
           0);
  }

private:
  static DWORD WINAPI OnControl(DWORD control, DWORD /*type*/, LPVOID /*data*/, LPVOID context) {
    auto* const self = static_cast<RunningService*>(context);
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      self->Report(SERVICE_STOP_PENDING, NO_ERROR, 0, kStopWaitHintMs);
      self->control_.RequestStop();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
    }
  }

  void Report(DWORD state, DWORD exitCode, DWORD serviceExitCode, DWORD waitHint) {
    const std::lock_guard lock(mutex_);
    if (stopped_) { // the handle is no longer the manager's
      return;
    }
    stopped_ = state == SERVICE_STOPPED;
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status_.dwCurrentState = state;
    status_.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status_.dwWin32ExitCode = exitCode;
    status_.dwServiceSpecificExitCode = serviceExitCode;
    status_.dwCheckPoint =
        state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? ++checkPoint_ : 0;
    status_.dwWaitHint = waitHint;
    (void)SetServiceStatus(handle_, &status_);
  }

  const ServeFunction& serve_;
  const ServiceSetup& setup_;
  std::wstring name_;
  ServeControl control_;
  std::mutex mutex_;
  SERVICE_STATUS_HANDLE handle_ = nullptr;
  SERVICE_STATUS status_{};
  DWORD checkPoint_ = 0;
  bool stopped_ = false;
  int exitStatus_ = 1;
};

RunningService* running = nullptr;

void WINAPI ServiceMain(DWORD /*argc*/, LPWSTR* /*argv*/) {
  if (running != nullptr) {
    running->Main();
  }
}

} // namespace

int InstallService(std::span<const std::string> serveArgs, std::ostream& out, std::ostream& err,
                   const ServiceSetup& setup) {
  std::error_code status;
  const std::filesystem::path folder = std::filesystem::current_path(status);
  const std::vector<std::string> args = WithAbsolutePaths(serveArgs, folder);
  const std::wstring program = setup.executable ? Wide(*setup.executable) : ThisProgram();
  const std::wstring commandLine = Wide(QuoteArgument(Narrow(program))) + L" " + Wide(ServiceArguments(args));
  const std::wstring name = Wide(setup.name);
  const std::wstring displayName = Wide(setup.displayName);

  const ServiceHandle manager(
      OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!manager) {
    err << "kv58 serve: cannot reach the service manager: " << Reason(GetLastError()) << "\n";
    return 1;
  }
  bool updated = false;
  // Started by hand (or with Windows once the user says so): a service that starts at boot
  // before its ports file names a display would only fill its log.
  ServiceHandle service(CreateServiceW(manager.get(), name.c_str(), displayName.c_str(),
                                       SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service && GetLastError() == ERROR_SERVICE_EXISTS) {
    // Installed before: the new command line replaces the old, the start type stays the user's.
    service.reset(OpenServiceW(manager.get(), name.c_str(), SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG));
    if (service && ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                        SERVICE_NO_CHANGE, commandLine.c_str(), nullptr, nullptr, nullptr,
                                        nullptr, nullptr, displayName.c_str()) == 0) {
      service.reset();
    }
    updated = true;
  }
  if (!service) {
    err << "kv58 serve: cannot install the service " << setup.name << ": " << Reason(GetLastError()) << "\n";
    return 1;
  }
  std::wstring description =
      L"Serves the KV-58 displays of a ports file on a schedule and through a local HTTP API.";
  SERVICE_DESCRIPTIONW text{description.data()};
  (void)ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &text);
  RestartOnFailure(service.get(), out);

  out << "kv58 serve: " << (updated ? "updated" : "installed") << " the service " << setup.name << " (\""
      << setup.displayName << "\"), started by hand: " << Narrow(commandLine) << "\n"
      << "  start it:               sc start " << setup.name << "\n"
      << "  start it with Windows:  sc config " << setup.name << " start= delayed-auto\n"
      << "  its log:                " << (LogFolder(setup) / L"serve.log").string() << "\n";
  return 0;
}

int UninstallService(std::ostream& out, std::ostream& err, const ServiceSetup& setup) {
  const std::wstring name = Wide(setup.name);
  const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    err << "kv58 serve: cannot reach the service manager: " << Reason(GetLastError()) << "\n";
    return 1;
  }
  const ServiceHandle service(
      OpenServiceW(manager.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
      out << "kv58 serve: the service " << setup.name << " is not installed; nothing to remove\n";
      return 0;
    }
    err << "kv58 serve: cannot open the service " << setup.name << ": " << Reason(error) << "\n";
    return 1;
  }
  SERVICE_STATUS status{};
  if (QueryServiceStatus(service.get(), &status) != 0 && status.dwCurrentState != SERVICE_STOPPED) {
    out << "kv58 serve: stopping the service " << setup.name << "\n";
    (void)ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    while (QueryServiceStatus(service.get(), &status) != 0 && status.dwCurrentState != SERVICE_STOPPED &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    if (status.dwCurrentState != SERVICE_STOPPED) {
      out << "kv58 serve: the service did not stop within " << kStopWait.count()
          << " s; it goes once it has stopped\n";
    }
  }
  if (DeleteService(service.get()) == 0 && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
    err << "kv58 serve: cannot remove the service " << setup.name << ": " << Reason(GetLastError()) << "\n";
    return 1;
  }
  out << "kv58 serve: removed the service " << setup.name << "\n";
  return 0;
}

int RunAsService(const ServeFunction& serve, std::ostream& err, const ServiceSetup& setup) {
  RunningService service(serve, setup);
  running = &service;
  std::wstring name = service.Name();
  const SERVICE_TABLE_ENTRYW table[] = {{name.data(), &ServiceMain}, {nullptr, nullptr}};
  const bool dispatched = StartServiceCtrlDispatcherW(table) != 0;
  const DWORD error = GetLastError();
  running = nullptr;
  if (!dispatched) {
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
      err << "kv58 serve: --service is for the service manager, which starts kv58 with it; to serve from a "
             "console, leave it out\n";
      return 2;
    }
    err << "kv58 serve: the service manager did not take the service: " << Reason(error) << "\n";
    return 1;
  }
  return service.ExitStatus();
}

} // namespace kv58::serve
