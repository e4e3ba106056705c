#include "serial/port_source_win32.h"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "serial/port_discovery.h"
#include "serial/tests/test_support_win32.h"

namespace kv58 {
namespace {

using ::testing::ElementsAre;
using testing::EnvironmentText;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

// --- the real serial device map, as Wine fills it from its Ports key ---

TEST(Win32RegistrySerialMapTest, AMappedPortIsListedByItsComName) {
  const auto name = EnvironmentText(testing::kPortVariable);
  const auto peerName = EnvironmentText(testing::kPeerPortVariable);
  if (!name || !peerName) {
    GTEST_SKIP() << testing::kPortVariable << " and " << testing::kPeerPortVariable
                 << " name no ports: set them to ports this machine has "
                    "(scripts/test-windows maps pseudo-terminals under Wine)";
  }
  std::vector<std::string> ports{"left over from the last listing"};
  ListSerialPorts(*SystemPortSource(), ports); // the source the window uses

  EXPECT_THAT(ports, ::testing::Contains(*name));
  EXPECT_THAT(ports, ::testing::Contains(*peerName));
  EXPECT_THAT(ports, ::testing::Not(::testing::Contains("left over from the last listing")));
  for (std::size_t at = 1; at < ports.size(); ++at) {
    EXPECT_LE(ComparePortNumbers(ports, at - 1, at), 0) << ports[at - 1] << " before " << ports[at];
  }
}

TEST(Win32RegistrySerialMapTest, TheSystemSourceReadsTheSerialDeviceMap) {
  Win32RegistryPortSource reader;
  // Every Windows, and every Wine prefix, has the key; it may hold no values.
  ASSERT_TRUE(reader.OpenKey());
  for (const auto& valueName : reader.ValueNames()) {
    EXPECT_NO_THROW((void)reader.ReadString(valueName)) << valueName << " holds a port name";
  }
}

TEST(Win32RegistrySerialMapTest, AMissingKeyListsNothing) {
  Win32RegistryPortSource reader{RegistryHive::LocalMachine, "Hardware\\DeviceMap\\NoSuchMap-kv58"};
  EXPECT_FALSE(reader.OpenKey());
  std::vector<std::string> ports{"COM1"};
  ListSerialPorts(reader, ports);
  EXPECT_THAT(ports, IsEmpty());
}

// --- a key of the test's own under the current user, with values of every kind ---

class Win32RegistryReaderTest : public ::testing::Test {
protected:
  void SetUp() override {
    keyPath = std::string(kParentKey) + "\\reader-" + std::to_string(::GetCurrentProcessId());
    ::RegDeleteTreeA(HKEY_CURRENT_USER, keyPath.c_str());
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
  }

  void TearDown() override {
    if (key != nullptr) {
      ::RegCloseKey(key);
      ::RegDeleteTreeA(HKEY_CURRENT_USER, keyPath.c_str());
      ::RegDeleteKeyA(HKEY_CURRENT_USER, kParentKey); // only once no other run has a key there
    }
  }

  void SetValue(const std::string& name, DWORD type, std::string_view data) {
    ASSERT_EQ(::RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                               static_cast<DWORD>(data.size())),
              ERROR_SUCCESS)
        << name;
  }

  // A REG_SZ as Windows stores it: the text and its terminating NUL.
  void SetText(const std::string& name, std::string_view text) {
    SetValue(name, REG_SZ, std::string(text) + '\0');
  }

  [[nodiscard]] Win32RegistryPortSource Reader() const {
    return Win32RegistryPortSource{RegistryHive::CurrentUser, keyPath};
  }

  static constexpr const char* kParentKey = "Software\\kv58-tests";
  std::string keyPath;
  HKEY key = nullptr;
};

struct TextValueCase {
  const char* label;
  DWORD type;
  std::string_view stored;
  std::string_view read;
};

class Win32RegistryTextTest : public Win32RegistryReaderTest,
                              public ::testing::WithParamInterface<TextValueCase> {};

TEST_P(Win32RegistryTextTest, ReadsTextAsStoredUpToTheFirstNul) {
  const auto& c = GetParam();
  SetValue("\\Device\\Serial0", c.type, c.stored);
  auto reader = Reader();
  ASSERT_TRUE(reader.OpenKey());
  EXPECT_EQ(reader.ReadString("\\Device\\Serial0"), c.read);
}

using namespace std::string_view_literals;

INSTANTIATE_TEST_SUITE_P(Values, Win32RegistryTextTest,
                         ::testing::Values(TextValueCase{"Text", REG_SZ, "COM3\0"sv, "COM3"},
                                           TextValueCase{"TextWithoutItsNul", REG_SZ, "COM4"sv, "COM4"},
                                           TextValueCase{"CutAtTheFirstNul", REG_SZ, "COM5\0COM6\0"sv,
                                                         "COM5"},
                                           TextValueCase{"ExpandableTextIsNotExpanded", REG_EXPAND_SZ,
                                                         "%SystemRoot%\0"sv, "%SystemRoot%"},
                                           TextValueCase{"EmptyText", REG_SZ, "\0"sv, ""},
                                           TextValueCase{"NoDataAtAll", REG_SZ, ""sv, ""},
                                           TextValueCase{"NoDataOfAnotherType", REG_BINARY, ""sv, ""},
                                           TextValueCase{"BytesAbove127", REG_SZ, "COM\xB9\0"sv, "COM\xB9"}),
                         [](const auto& row) { return std::string(row.param.label); });

struct WrongTypeCase {
  const char* label;
  DWORD type;
  std::string_view stored;
};

class Win32RegistryWrongTypeTest : public Win32RegistryReaderTest,
                                   public ::testing::WithParamInterface<WrongTypeCase> {};

TEST_P(Win32RegistryWrongTypeTest, DataThatIsNotTextRaisesTheRegistryError) {
  const auto& c = GetParam();
  SetValue("\\Device\\Serial0", c.type, c.stored);
  auto reader = Reader();
  ASSERT_TRUE(reader.OpenKey());
  EXPECT_THROW((void)reader.ReadString("\\Device\\Serial0"), RegistryError);
}

INSTANTIATE_TEST_SUITE_P(Values, Win32RegistryWrongTypeTest,
                         ::testing::Values(WrongTypeCase{"Number", REG_DWORD, "\x03\0\0\0"sv},
                                           WrongTypeCase{"Binary", REG_BINARY, "COM3"sv},
                                           WrongTypeCase{"TextList", REG_MULTI_SZ, "COM3\0COM4\0\0"sv}),
                         [](const auto& row) { return std::string(row.param.label); });

TEST_F(Win32RegistryReaderTest, AValueThatDoesNotExistReadsAsEmptyText) {
  auto reader = Reader();
  ASSERT_TRUE(reader.OpenKey());
  EXPECT_EQ(reader.ReadString("\\Device\\Missing"), "");
}

TEST_F(Win32RegistryReaderTest, ListsEveryValueName) {
  const std::string longName(300, 'n');
  SetText("\\Device\\Serial0", "COM1");
  SetText("\\Device\\VSerial7", "COM12");
  SetText(longName, "COM2");
  auto reader = Reader();
  ASSERT_TRUE(reader.OpenKey());
  EXPECT_THAT(reader.ValueNames(), UnorderedElementsAre("\\Device\\Serial0", "\\Device\\VSerial7", longName));
}

TEST_F(Win32RegistryReaderTest, AKeyWithoutValuesHasNoNames) {
  auto reader = Reader();
  ASSERT_TRUE(reader.OpenKey());
  EXPECT_THAT(reader.ValueNames(), IsEmpty());
}

TEST_F(Win32RegistryReaderTest, AClosedReaderHasNoNamesAndReadsNothing) {
  SetText("\\Device\\Serial0", "COM1");
  auto reader = Reader();
  EXPECT_THAT(reader.ValueNames(), IsEmpty());
  EXPECT_THROW((void)reader.ReadString("\\Device\\Serial0"), RegistryError);

  ASSERT_TRUE(reader.OpenKey());
  reader.CloseKey();
  reader.CloseKey(); // closing twice is harmless
  EXPECT_FALSE(reader.IsKeyOpen());
  EXPECT_THAT(reader.ValueNames(), IsEmpty());
}

TEST_F(Win32RegistryReaderTest, OpeningAMissingKeyDoesNotCreateIt) {
  const std::string missing = keyPath + "\\NotThere";
  Win32RegistryPortSource reader{RegistryHive::CurrentUser, missing};
  EXPECT_FALSE(reader.OpenKey());
  EXPECT_FALSE(reader.IsKeyOpen());

  HKEY probe = nullptr;
  EXPECT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, missing.c_str(), 0, KEY_READ, &probe), ERROR_FILE_NOT_FOUND);
  if (probe != nullptr) {
    ::RegCloseKey(probe);
  }
}

TEST_F(Win32RegistryReaderTest, PortsAreListedByNumber) {
  SetText("\\Device\\Serial9", "COM10");
  SetText("\\Device\\Serial2", "COM3");
  SetText("\\Device\\Serial0", "COM1");
  auto reader = Reader();
  std::vector<std::string> ports{"COM99"};
  ListSerialPorts(reader, ports);
  EXPECT_THAT(ports, ElementsAre("COM1", "COM3", "COM10"));
  EXPECT_FALSE(reader.IsKeyOpen()) << "the listing closes the key";
}

TEST_F(Win32RegistryReaderTest, AValueThatIsNotTextEndsTheListing) {
  auto reader = Reader();
  ASSERT_TRUE(reader.OpenKey());
  // The registry decides the enumeration order; the names are made in it here so the
  // value that is not text can be put third of five.
  const std::vector<std::string> valueNames{"a", "b", "c", "d", "e"};
  SetText(valueNames[0], "COM8");
  SetText(valueNames[1], "COM2");
  SetValue(valueNames[2], REG_DWORD, "\x05\0\0\0"sv);
  SetText(valueNames[3], "COM1");
  SetText(valueNames[4], "COM4");
  const std::vector<std::string> enumerated = reader.ValueNames();
  reader.CloseKey();
  if (enumerated != valueNames) {
    GTEST_SKIP() << "this registry does not enumerate values in the order they were made";
  }

  std::vector<std::string> ports;
  ListSerialPorts(reader, ports);
  EXPECT_THAT(ports, ElementsAre("COM2", "COM8"));
}

} // namespace
} // namespace kv58
