// The service manager's side under Wine: a stand-in for kv58 (kv58_service_probe.exe) is
// installed, started, asked to stop and removed through the real service manager.

#include <windows.h>

#include <shellapi.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "common/testing/scratch_dir.h"
#include "tools/kv58/serve/service/service_command_line.h"
#include "tools/kv58/serve/service/windows_service.h"

namespace kv58::serve {
namespace {

using ::testing::HasSubstr;

struct ServiceHandleCloser {
  void operator()(SC_HANDLE handle) const { (void)CloseServiceHandle(handle); }
};
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;

std::filesystem::path ProbeProgram() {
  std::wstring path(MAX_PATH, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
  return std::filesystem::path(path).parent_path() / L"kv58_service_probe.exe";
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text; // not istreambuf_iterator: GCC 12 warns of it when optimising
  text << file.rdbuf();
  return text.str();
}

// Waits up to `limit` for `done`; whether it came.
template <typename Done> bool Within(std::chrono::seconds limit, Done done) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

DWORD StateOf(SC_HANDLE service, SERVICE_STATUS& status) {
  return QueryServiceStatus(service, &status) != 0 ? status.dwCurrentState : 0;
}

class WindowsService : public ::testing::Test {
protected:
  void SetUp() override {
    setup_.name = "kv58-serve-test-" + std::to_string(GetCurrentProcessId());
    setup_.displayName = "KV-58 service test";
    setup_.executable = ProbeProgram().string();
    setup_.logFolder = scratch_.Path().string();
    ASSERT_TRUE(std::filesystem::exists(ProbeProgram())) << ProbeProgram().string();
    manager_.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(manager_);
  }
  void TearDown() override {
    std::ostringstream ignored;
    (void)UninstallService(ignored, ignored, setup_);
  }

  int Install(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--probe-name", setup_.name, "--log-folder", *setup_.logFolder};
    args.insert(args.end(), extra.begin(), extra.end());
    out_.str("");
    return InstallService(args, out_, err_, setup_);
  }
  ServiceHandle Open(DWORD access) {
    return ServiceHandle(
        OpenServiceW(manager_.get(), std::wstring(setup_.name.begin(), setup_.name.end()).c_str(), access));
  }
  std::string Log() const { return ReadAll(scratch_ / "serve.log"); }

  testing::ScratchDir scratch_;
  ServiceSetup setup_;
  ServiceHandle manager_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(WindowsService, InstalledStartedStoppedAndRemoved) {
  std::filesystem::current_path(scratch_.Path());
  ASSERT_EQ(Install({"--ports-file", "ports", "--exit-status", "3"}), 0) << err_.str();
  EXPECT_THAT(out_.str(), HasSubstr("installed the service " + setup_.name));

  ServiceHandle service = Open(SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP);
  ASSERT_TRUE(service) << GetLastError();
  std::vector<unsigned char> buffer(8192);
  DWORD needed = 0;
  ASSERT_NE(QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                static_cast<DWORD>(buffer.size()), &needed),
            0);
  const auto* config = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data());
  EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  // The ports file named relative to the folder kv58 was installed from is absolute.
  const std::wstring commandLine = config->lpBinaryPathName;
  const std::string portsFile = (scratch_ / "ports").string();
  EXPECT_NE(commandLine.find(L" serve --service "), std::wstring::npos);
  EXPECT_NE(commandLine.find(std::wstring(portsFile.begin(), portsFile.end())), std::wstring::npos);

  ASSERT_NE(StartServiceW(service.get(), 0, nullptr), 0) << GetLastError();
  SERVICE_STATUS status{};
  ASSERT_TRUE(
      Within(std::chrono::seconds(20), [&] { return StateOf(service.get(), status) == SERVICE_RUNNING; }))
      << "state " << status.dwCurrentState;
  ASSERT_TRUE(Within(std::chrono::seconds(10), [&] {
    return Log().find("probe serving:") != std::string::npos;
  })) << Log();
  EXPECT_THAT(Log(), HasSubstr("started by the service manager as " + setup_.name));
  EXPECT_THAT(Log(), HasSubstr("[--ports-file] [" + portsFile + "] [--exit-status] [3]"));
  EXPECT_THAT(Log(), HasSubstr("probe: standard error reaches the log"));

  ASSERT_NE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status), 0) << GetLastError();
  ASSERT_TRUE(
      Within(std::chrono::seconds(20), [&] { return StateOf(service.get(), status) == SERVICE_STOPPED; }))
      << "state " << status.dwCurrentState;
  EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
  EXPECT_EQ(status.dwServiceSpecificExitCode, 3U);
  EXPECT_THAT(Log(), HasSubstr("probe stopping"));
  EXPECT_THAT(Log(), HasSubstr("ended with exit status 3"));

  // Installed again: the command line is replaced, the service kept.
  ASSERT_EQ(Install({"--ports-file", "other"}), 0) << err_.str();
  EXPECT_THAT(out_.str(), HasSubstr("updated the service " + setup_.name));
  service.reset();

  out_.str("");
  ASSERT_EQ(UninstallService(out_, err_, setup_), 0) << err_.str();
  EXPECT_THAT(out_.str(), HasSubstr("removed the service " + setup_.name));
  EXPECT_FALSE(Open(SERVICE_QUERY_STATUS));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

  out_.str("");
  EXPECT_EQ(UninstallService(out_, err_, setup_), 0);
  EXPECT_THAT(out_.str(), HasSubstr("is not installed; nothing to remove"));
}

TEST_F(WindowsService, RemovingARunningServiceStopsItFirst) {
  ASSERT_EQ(Install(), 0) << err_.str();
  {
    const ServiceHandle service = Open(SERVICE_START | SERVICE_QUERY_STATUS);
    ASSERT_NE(StartServiceW(service.get(), 0, nullptr), 0) << GetLastError();
    SERVICE_STATUS status{};
    ASSERT_TRUE(
        Within(std::chrono::seconds(20), [&] { return StateOf(service.get(), status) == SERVICE_RUNNING; }));
  }
  ASSERT_EQ(UninstallService(out_, err_, setup_), 0) << err_.str();
  EXPECT_THAT(out_.str(), HasSubstr("stopping the service"));
  EXPECT_THAT(Log(), HasSubstr("ended with exit status 0"));
  // Marked for deletion, it goes once its process has ended.
  EXPECT_TRUE(Within(std::chrono::seconds(10), [&] { return !Open(SERVICE_QUERY_STATUS); }));
}

TEST(WindowsServiceConsole, RunFromAConsoleSaysWhatServiceIsFor) {
  std::ostringstream err;
  bool served = false;
  EXPECT_EQ(RunAsService(
                [&](ServeControl&, std::ostream&) {
                  served = true;
                  return 0;
                },
                err),
            2);
  EXPECT_FALSE(served);
  EXPECT_THAT(err.str(), HasSubstr("--service is for the service manager"));
}

// Each quoted argument reads back whole through the system's own reading of a command line.
TEST(WindowsCommandLine, QuotedArgumentsReadBackWhole) {
  const std::vector<std::string> args{"plain",    "",          R"(C:\Program Files\kv58\)", R"(say "hi")",
                                      R"(a\\"b)", "tab\there", R"(\\server\share\x y)"};
  const std::wstring line = L"kv58.exe " + [&] {
    const std::string text = ServiceArguments(args);
    return std::wstring(text.begin(), text.end());
  }();
  int count = 0;
  LPWSTR* const read = CommandLineToArgvW(line.c_str(), &count);
  ASSERT_NE(read, nullptr);
  ASSERT_EQ(count, static_cast<int>(args.size()) + 3);
  for (std::size_t i = 0; i < args.size(); ++i) {
    EXPECT_EQ(std::wstring(read[i + 3]), std::wstring(args[i].begin(), args[i].end())) << args[i];
  }
  (void)LocalFree(read);
}

} // namespace
} // namespace kv58::serve
