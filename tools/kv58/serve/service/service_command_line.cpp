#include "tools/kv58/serve/service/service_command_line.h"

#include <array>

namespace kv58::serve {
namespace {

constexpr std::string_view kInstall = "--install-service";
constexpr std::string_view kUninstall = "--uninstall-service";
constexpr std::string_view kRun = "--service";
constexpr std::array<std::string_view, 3> kFileOptions{"--ports-file", "--schedule", "--token-file"};

bool IsFileOption(std::string_view argument) {
  for (const std::string_view option : kFileOptions) {
    if (argument == option) {
      return true;
    }
  }
  return false;
}

std::string Absolute(const std::string& value, const std::filesystem::path& folder) {
  if (value.empty()) {
    return value; // refused by serve itself, with its own words
  }
  return (folder / std::filesystem::path(value)).lexically_normal().string();
}

} // namespace

ServiceRequest ServiceRequestOf(std::span<const std::string_view> serveArgs) {
  ServiceRequest request;
  std::string_view chosen;
  for (const std::string_view argument : serveArgs) {
    ServiceRequest::Mode mode = ServiceRequest::Mode::None;
    if (argument == kInstall) {
      mode = ServiceRequest::Mode::Install;
    } else if (argument == kUninstall) {
      mode = ServiceRequest::Mode::Uninstall;
    } else if (argument == kRun) {
      mode = ServiceRequest::Mode::Run;
    } else {
      request.serveArgs.emplace_back(argument);
      continue;
    }
    if (request.mode != ServiceRequest::Mode::None && request.mode != mode) {
      request.error = std::string(chosen) + " and " + std::string(argument) + " cannot be given together";
    }
    request.mode = mode;
    chosen = argument;
  }
  if (request.error.empty() && request.mode == ServiceRequest::Mode::Uninstall &&
      !request.serveArgs.empty()) {
    request.error = "--uninstall-service takes no other option (" + request.serveArgs.front() + " was given)";
  }
  return request;
}

std::vector<std::string> WithAbsolutePaths(std::span<const std::string> serveArgs,
                                           const std::filesystem::path& folder) {
  std::vector<std::string> result;
  result.reserve(serveArgs.size());
  bool valueNext = false;
  for (const std::string& argument : serveArgs) {
    if (valueNext) {
      result.push_back(Absolute(argument, folder));
      valueNext = false;
      continue;
    }
    const auto equals = argument.find('=');
    if (equals != std::string::npos && IsFileOption(std::string_view(argument).substr(0, equals))) {
      result.push_back(argument.substr(0, equals + 1) + Absolute(argument.substr(equals + 1), folder));
      continue;
    }
    valueNext = IsFileOption(argument);
    result.push_back(argument);
  }
  return result;
}

std::string QuoteArgument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    return std::string(argument);
  }
  // Backslashes are literal except before a quote, where each stands for half of what it
  // reads as: so those before a quote, and before the closing quote, are doubled.
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

std::string ServiceArguments(std::span<const std::string> serveArgs) {
  std::string line = "serve ";
  line += kRun;
  for (const std::string& argument : serveArgs) {
    line += ' ';
    line += QuoteArgument(argument);
  }
  return line;
}

} // namespace kv58::serve
