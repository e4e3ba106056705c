#include "serial/port_source_posix.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/testing/scratch_dir.h"
#include "serial/com_socket.h"
#include "serial/port_discovery.h"
#include "serial/serial_driver_posix.h"
#include "serial/tests/test_support_posix.h"

namespace kv58 {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::PseudoTerminal;
using testing::ScratchDir;

class PosixPortSourceTest : public ::testing::Test {
protected:
  ScratchDir map;
  ScratchDir devices;
  PortLocations locations{map.Path(), devices.Path()};
  std::vector<std::string> probed; // file names the UART probe was asked about
  std::vector<std::string> uarts;  // file names it says yes to
  PosixPortSource source{locations, [this](const std::filesystem::path& device) {
                           probed.push_back(device.filename().string());
                           return std::find(uarts.begin(), uarts.end(), device.filename().string()) !=
                                  uarts.end();
                         }};
  std::vector<std::string> listed;
};

TEST_F(PosixPortSourceTest, ListsMapEntriesWithTargetsAndExistingFixedRuleDevices) {
  map.Link("COM3", devices.Touch("adapter-a"));
  map.Link("COM40", devices.Touch("adapter-b"));
  map.Link("COM7", devices / "unplugged");       // dangling: not listed, and claims COM7
  map.Link("COM07", devices.Touch("adapter-c")); // a name the channel never builds
  map.Link("COM-1", devices.Touch("adapter-d"));
  map.Link("notes", devices.Touch("adapter-e"));
  for (const char* node : {"ttyS0", "ttyS2", "ttyS4", "ttyS6", "ttyS40", "ttyUSB0", "ttyUSB32", "ttyACM31",
                           "ttyAMA0", "ttyAMA01", "console"}) {
    devices.Touch(node);
  }
  uarts = {"ttyS2", "ttyS4", "ttyS6"};

  ListSerialPorts(source, listed);

  // COM3 once (its map entry claims ttyS2), COM5 = ttyS4, no COM7 (claimed by the dangling
  // entry), no ttyS0 (no UART behind it), ttyUSB0 = COM33, ttyACM31 = COM96, ttyAMA0 = COM97.
  EXPECT_THAT(listed, ElementsAre("COM3", "COM5", "COM33", "COM40", "COM96", "COM97"));
  EXPECT_THAT(probed, ElementsAre("ttyS0", "ttyS4")) << "only unclaimed ttyS nodes are probed";
}

TEST_F(PosixPortSourceTest, ValuesAreDevicePathsWhoseDataIsTheComName) {
  const auto entry = map.Link("COM200", devices.Touch("adapter"));
  const auto node = devices.Touch("ttyUSB1");
  ASSERT_TRUE(source.OpenKey());
  const auto names = source.ValueNames();
  EXPECT_THAT(names, ElementsAre(entry.string(), node.string()));
  EXPECT_EQ(source.ReadString(entry.string()), "COM200");
  EXPECT_EQ(source.ReadString(node.string()), "COM34");
  EXPECT_EQ(source.ReadString("/dev/nothing"), "") << "as a value the registry does not hold";
  source.CloseKey();
  EXPECT_THAT(source.ValueNames(), ::testing::IsEmpty()) << "as a closed registry key";
  EXPECT_THROW((void)source.ReadString(entry.string()), RegistryError);
}

TEST_F(PosixPortSourceTest, NeitherMapNorDeviceRootMeansNoPorts) {
  PosixPortSource nowhere(PortLocations{map / "missing", devices / "missing"},
                          [](const auto&) { return true; });
  listed = {"COM1"};
  ListSerialPorts(nowhere, listed);
  EXPECT_THAT(listed, IsEmpty());
}

TEST_F(PosixPortSourceTest, EveryListedNameOpensTheDeviceItWasListedFor) {
  PseudoTerminal mapped;
  PseudoTerminal adapter;
  map.Link("COM12", mapped.SlavePath());
  devices.Link("ttyACM0", adapter.SlavePath());

  ListSerialPorts(source, listed);
  ASSERT_THAT(listed, ElementsAre("COM12", "COM65"));

  PosixSerialDriver driver(locations);
  const std::pair<const char*, const PseudoTerminal*> expected[] = {{"COM12", &mapped}, {"COM65", &adapter}};
  for (const auto& [name, line] : expected) {
    TCOMSocket port(driver);
    ASSERT_TRUE(port.SetPortName(name));
    ASSERT_TRUE(port.Open()) << name;
    ASSERT_EQ(port.Write(name, 5), 5u);
    EXPECT_EQ(line->Receive(5), name);
  }
}

TEST(KernelReportsUart, SaysNoForWhatIsNotASerialPort) {
  ScratchDir folder;
  EXPECT_FALSE(KernelReportsUart(folder.Touch("plain-file")));
  EXPECT_FALSE(KernelReportsUart(folder / "missing"));
  PseudoTerminal line;
  EXPECT_FALSE(KernelReportsUart(line.SlavePath())) << "a pseudo-terminal has no UART";
}

} // namespace
} // namespace kv58
