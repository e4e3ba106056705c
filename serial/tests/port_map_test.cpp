#include "serial/port_map.h"

#include <sys/stat.h>

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

#include "common/testing/scratch_dir.h"
#include "serial/com_socket.h"
#include "serial/serial_driver_posix.h"
#include "serial/tests/test_support_posix.h"

namespace kv58 {
namespace {

using testing::PseudoTerminal;
using testing::ScratchDir;

struct NameCase {
  const char* label;
  const char* name;
  std::optional<std::int32_t> number;
};

class PortNumberOfNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortNumberOfNameTest, TakesOnlyNamesAsTheChannelBuildsThem) {
  EXPECT_EQ(PortNumberOfName(GetParam().name), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PortNumberOfNameTest,
    ::testing::Values(NameCase{"One", "COM1", 1}, NameCase{"Large", "COM200", 200},
                      NameCase{"Top", "COM2147483647", 2147483647},
                      NameCase{"BeyondTop", "COM2147483648", std::nullopt},
                      NameCase{"Zero", "COM0", std::nullopt}, NameCase{"LeadingZero", "COM05", std::nullopt},
                      NameCase{"Negative", "COM-2", std::nullopt}, NameCase{"Plus", "COM+2", std::nullopt},
                      NameCase{"Blank", "COM 2", std::nullopt},
                      NameCase{"TrailingBlank", "COM2 ", std::nullopt},
                      NameCase{"SmallLetters", "com2", std::nullopt},
                      NameCase{"NoNumber", "COM", std::nullopt}, NameCase{"Other", "LPT1", std::nullopt}),
    [](const auto& row) { return std::string(row.param.label); });

TEST(PortNameOfNumber, IsTheInverseOfPortNumberOfName) {
  for (const std::int32_t number : {1, 9, 10, 128, 2147483647}) {
    EXPECT_EQ(PortNumberOfName(PortNameOfNumber(number)), number);
  }
}

struct RuleCase {
  std::int32_t number;
  const char* device; // nullptr: no device
};

class FixedRuleTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(FixedRuleTest, MapsEachFamilyOfThirtyTwo) {
  const auto& c = GetParam();
  const auto device = FixedRuleDevice(c.number, "/root-of-devices");
  if (c.device == nullptr) {
    EXPECT_EQ(device, std::nullopt);
  } else {
    EXPECT_EQ(device, std::filesystem::path("/root-of-devices") / c.device);
  }
  EXPECT_EQ(IsFixedRuleUart(c.number), c.device != nullptr && std::string_view(c.device).starts_with("ttyS"));
}

INSTANTIATE_TEST_SUITE_P(Numbers, FixedRuleTest,
                         ::testing::Values(RuleCase{1, "ttyS0"}, RuleCase{32, "ttyS31"},
                                           RuleCase{33, "ttyUSB0"}, RuleCase{64, "ttyUSB31"},
                                           RuleCase{65, "ttyACM0"}, RuleCase{96, "ttyACM31"},
                                           RuleCase{97, "ttyAMA0"}, RuleCase{128, "ttyAMA31"},
                                           RuleCase{129, nullptr}, RuleCase{0, nullptr},
                                           RuleCase{-1, nullptr}),
                         [](const auto& row) {
                           return "Com" + std::to_string(row.param.number < 0 ? 0 : row.param.number) +
                                  (row.param.number < 0 ? "Negative" : "");
                         });

class DevicePathTest : public ::testing::Test {
protected:
  ScratchDir map;
  ScratchDir devices;
  PortLocations locations{map.Path(), devices.Path()};
};

TEST_F(DevicePathTest, AMapEntryComesBeforeTheFixedRule) {
  const auto target = devices.Touch("my-adapter");
  const auto entry = map.Link("COM5", target);
  EXPECT_EQ(DevicePathForPort("COM5", locations), entry);
  EXPECT_EQ(DevicePathForPort("COM6", locations), devices / "ttyS5");
}

TEST_F(DevicePathTest, ADanglingMapEntryStillClaimsItsName) {
  const auto entry = map.Link("COM2", devices / "unplugged");
  EXPECT_EQ(DevicePathForPort("COM2", locations), entry)
      << "never falls back to ttyS1 behind the user's back";
}

TEST_F(DevicePathTest, NumbersOutsideTheRuleNameADeviceOnlyThroughTheMap) {
  EXPECT_EQ(DevicePathForPort("COM129", locations), std::nullopt);
  const auto entry = map.Link("COM129", devices.Touch("far"));
  EXPECT_EQ(DevicePathForPort("COM129", locations), entry);
}

TEST_F(DevicePathTest, NamesTheChannelNeverBuildsNameNothingEvenWithAMapEntry) {
  map.Link("COM05", devices.Touch("five"));
  map.Link("COM-2", devices.Touch("minus"));
  EXPECT_EQ(DevicePathForPort("COM05", locations), std::nullopt);
  EXPECT_EQ(DevicePathForPort("COM-2", locations), std::nullopt);
  EXPECT_EQ(DevicePathForPort("COM0", locations), std::nullopt);
  EXPECT_EQ(MapEntryForPort("COM05", locations), std::nullopt);
}

TEST_F(DevicePathTest, WithoutAMapOnlyTheFixedRuleCounts) {
  map.Link("COM3", devices.Touch("three"));
  locations.mapDirectory.clear();
  EXPECT_EQ(DevicePathForPort("COM3", locations), devices / "ttyS2");
}

TEST_F(DevicePathTest, TheMappedNameOpensThePseudoTerminalItLinksTo) {
  PseudoTerminal line;
  map.Link("COM200", line.SlavePath());
  const auto path = DevicePathForPort("COM200", locations);
  ASSERT_TRUE(path.has_value());

  struct stat mapped {};
  struct stat slave {};
  ASSERT_EQ(::stat(path->c_str(), &mapped), 0);
  ASSERT_EQ(::stat(line.SlavePath().c_str(), &slave), 0);
  EXPECT_EQ(mapped.st_rdev, slave.st_rdev);
}

TEST_F(DevicePathTest, AFixedRuleNameOpensTheDeviceUnderTheDeviceRoot) {
  PseudoTerminal line;
  devices.Link("ttyUSB0", line.SlavePath());
  PosixSerialDriver driver(locations);
  TCOMSocket port(driver);
  ASSERT_TRUE(port.SetPortName("COM33"));
  ASSERT_TRUE(port.Open());
  ASSERT_EQ(port.Write("U", 1), 1u);
  EXPECT_EQ(line.Receive(1), "U");
}

// Sets or unsets an environment variable for one test and puts it back afterwards.
class ScopedVariable {
public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    Set(value);
  }
  ~ScopedVariable() { Set(old_ ? old_->c_str() : nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
  void Set(const char* value) {
    if (value == nullptr) {
      ::unsetenv(name_);
    } else {
      ::setenv(name_, value, 1);
    }
  }
  const char* name_;
  std::optional<std::string> old_;
};

struct DirectoryCase {
  const char* label;
  const char* xdgConfigHome;
  const char* home;
  std::optional<std::filesystem::path> expected;
};

class PortMapDirectoryTest : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(PortMapDirectoryTest, FollowsXdgConfigHomeThenHome) {
  EXPECT_EQ(PortMapDirectory(GetParam().xdgConfigHome, GetParam().home), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Environments, PortMapDirectoryTest,
    ::testing::Values(
        DirectoryCase{"XdgSet", "/x/conf", "/home/me", std::filesystem::path("/x/conf/kv58/ports")},
        DirectoryCase{"XdgUnset", nullptr, "/home/me", std::filesystem::path("/home/me/.config/kv58/ports")},
        DirectoryCase{"XdgEmpty", "", "/home/me", std::filesystem::path("/home/me/.config/kv58/ports")},
        DirectoryCase{"XdgRelative", "conf", "/home/me",
                      std::filesystem::path("/home/me/.config/kv58/ports")},
        DirectoryCase{"XdgWithoutHome", "/x/conf", nullptr, std::filesystem::path("/x/conf/kv58/ports")},
        DirectoryCase{"NeitherSet", nullptr, nullptr, std::nullopt},
        DirectoryCase{"HomeRelative", nullptr, "me", std::nullopt}),
    [](const auto& row) { return std::string(row.param.label); });

TEST(DefaultPortLocations, MapLivesInTheConfigHome) {
  const ScopedVariable home("HOME", "/home/someone");
  {
    const ScopedVariable config("XDG_CONFIG_HOME", "/elsewhere/config");
    EXPECT_EQ(DefaultPortLocations().mapDirectory, std::filesystem::path("/elsewhere/config/kv58/ports"));
  }
  {
    const ScopedVariable config("XDG_CONFIG_HOME", "");
    EXPECT_EQ(DefaultPortLocations().mapDirectory, std::filesystem::path("/home/someone/.config/kv58/ports"));
  }
  {
    const ScopedVariable config("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(DefaultPortLocations().mapDirectory, std::filesystem::path("/home/someone/.config/kv58/ports"));
    EXPECT_EQ(DefaultPortLocations().deviceRoot, std::filesystem::path("/dev"));
  }
}

TEST(DefaultPortLocations, NoHomeMeansNoMap) {
  const ScopedVariable home("HOME", nullptr);
  const ScopedVariable config("XDG_CONFIG_HOME", nullptr);
  EXPECT_TRUE(DefaultPortLocations().mapDirectory.empty());
}

} // namespace
} // namespace kv58
