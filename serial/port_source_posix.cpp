#include "serial/port_source_posix.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/serial.h>
#endif

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

#include "serial/port_discovery.h"

namespace kv58 {
namespace {

bool TargetExists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(path, error); // follows links: a dangling one does not count
}

} // namespace

bool KernelReportsUart(const std::filesystem::path& device) {
#if defined(__linux__)
  const int fd = ::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return errno == EBUSY;
  }
  serial_struct info{};
  const bool known = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  ::close(fd);
  return known;
#else
  return TargetExists(device);
#endif
}

PosixPortSource::PosixPortSource(PortLocations locations, UartProbe probe)
    : locations_(std::move(locations)), probe_(std::move(probe)) {}

std::vector<PosixPortSource::Port> PosixPortSource::MappedPorts(std::vector<std::int32_t>& claimed) const {
  std::vector<std::pair<std::int32_t, Port>> found;
  std::error_code error;
  if (locations_.mapDirectory.empty()) {
    return {};
  }
  for (std::filesystem::directory_iterator entry(locations_.mapDirectory, error), end; !error && entry != end;
       entry.increment(error)) {
    const auto portName = entry->path().filename().string();
    const auto number = PortNumberOfName(portName);
    if (!number) {
      continue; // not a name the channel could ask for
    }
    claimed.push_back(*number);
    if (TargetExists(entry->path())) {
      found.push_back({*number, Port{entry->path().string(), portName}});
    }
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<Port> ports;
  for (auto& [number, port] : found) {
    ports.push_back(std::move(port));
  }
  return ports;
}

std::vector<PosixPortSource::Port>
PosixPortSource::FixedRulePorts(const std::vector<std::int32_t>& claimed) const {
  std::vector<Port> ports;
  for (std::int32_t number = 1; number <= kFixedRulePortCount; ++number) {
    if (std::find(claimed.begin(), claimed.end(), number) != claimed.end()) {
      continue;
    }
    const auto device = FixedRuleDevice(number, locations_.deviceRoot);
    if (!device || !TargetExists(*device) || (IsFixedRuleUart(number) && !probe_(*device))) {
      continue;
    }
    ports.push_back(Port{device->string(), PortNameOfNumber(number)});
  }
  return ports;
}

bool PosixPortSource::OpenKey() {
  std::vector<std::int32_t> claimed;
  ports_ = MappedPorts(claimed);
  auto fixed = FixedRulePorts(claimed);
  ports_.insert(ports_.end(), std::make_move_iterator(fixed.begin()), std::make_move_iterator(fixed.end()));
  open_ = true;
  return true;
}

std::vector<std::string> PosixPortSource::ValueNames() {
  std::vector<std::string> names;
  if (!open_) {
    return names;
  }
  names.reserve(ports_.size());
  for (const auto& port : ports_) {
    names.push_back(port.devicePath);
  }
  return names;
}

std::string PosixPortSource::ReadString(const std::string& valueName) {
  if (!open_) {
    throw RegistryError("The serial device map is not open");
  }
  const auto found = std::find_if(ports_.begin(), ports_.end(),
                                  [&valueName](const Port& port) { return port.devicePath == valueName; });
  return found == ports_.end() ? std::string() : found->portName;
}

void PosixPortSource::CloseKey() {
  open_ = false;
  ports_.clear();
}

std::unique_ptr<PortSource> SystemPortSource() { return std::make_unique<PosixPortSource>(); }

} // namespace kv58
