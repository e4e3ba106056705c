#pragma once
// A TForm1 on fakes: the recording serial driver, a scripted port list, scripted dialogs,
// and pauses that are recorded on the driver's call list instead of waited out, so one list
// shows writes and pauses in their order.

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/prompts.h"
#include "serial/testing/fake_port_source.h"
#include "serial/testing/fake_serial_driver.h"

namespace kv58::testing {

class ScriptedPrompts final : public Prompts {
public:
  std::deque<std::optional<std::filesystem::path>> files; // answers to the open-file prompt
  std::vector<std::string> messages;
  std::vector<std::string> errors;
  std::string title;
  int fileQuestions = 0;

  std::optional<std::filesystem::path> AskFileToOpen() override;
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ShowError(const std::string& message) override { errors.push_back(message); }
  void SetApplicationTitle(const std::string& text) override { title = text; }
};

class FormHarness {
public:
  FakeSerialDriver driver;
  FakePortSource ports;
  ScriptedPrompts prompts;
  // How the window's driver thread starts, and what a close asks of the device's waits.
  DriverThread::Starter startThread = DriverThread::StartSystemThread;
  std::function<void()> stopDeviceWaits = [] {};
  // Called in each pause, after it is recorded (a close that comes in a pause).
  std::function<void(std::uint32_t milliseconds)> duringPause;
  std::unique_ptr<TForm1> form;

  // Builds the window; without a language file, one that does not exist. On `serialDriver`
  // instead of `driver` when given one.
  void Create(const std::filesystem::path& languageFile = "no-such-dir/lang.txt",
              SerialDriver* serialDriver = nullptr);
  // Ticks the connect box with the given port and speed texts.
  void Connect(const QString& port = QStringLiteral("COM3"), const QString& speed = QStringLiteral("115200"));
  [[nodiscard]] const std::vector<std::string>& Log() const { return form->DebugMemo.Lines(); }
  // What went on the line since the last ClearRecord: bytes written, drains and pauses between
  // them, as "FF 06 02 | drain | pause 10 | FF 09".
  [[nodiscard]] std::string Line() const;
  [[nodiscard]] std::vector<std::uint32_t> Pauses() const;
};

// Bytes as spaced upper-case hex: "FF 05 0A".
[[nodiscard]] std::string Hex(std::string_view bytes);

// The line after a change of scroll type, as Line() writes it, with the device's own pause:
// "FF 06 02 | drain | pause 10 | FF 09".
[[nodiscard]] std::string ScrollTypeLine(int type);
// The device's pause before the reset alone, as Line() writes it.
[[nodiscard]] std::string ScrollPauseLine();

} // namespace kv58::testing
