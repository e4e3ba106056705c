#include "app/tests/form_harness.h"

#include <QCheckBox>
#include <QTimer>
#include <cstdio>

#include "app/widgets/combo_box.h"
#include "protocol/device_command.h"

namespace kv58::testing {

std::optional<std::filesystem::path> ScriptedPrompts::AskFileToOpen() {
  ++fileQuestions;
  if (files.empty()) {
    return std::nullopt;
  }
  auto answer = files.front();
  files.pop_front();
  return answer;
}

void FormHarness::Create(const std::filesystem::path& languageFile, SerialDriver* serialDriver) {
  // Each pause notes whether the receive timer could have ticked during it.
  const Pause pause = [this](std::uint32_t milliseconds) {
    const bool receiving = form && form->Timer1->isActive();
    driver.calls.push_back({"Pause", 0, milliseconds, receiving ? "receive timer running" : ""});
    if (duringPause) {
      duringPause(milliseconds);
    }
  };
  form = std::make_unique<TForm1>(FormServices{serialDriver != nullptr ? *serialDriver : driver, ports,
                                               prompts, pause, languageFile, startThread, stopDeviceWaits});
}

void FormHarness::Connect(const QString& port, const QString& speed) {
  form->ComboBoxPort->setEditText(port);
  form->ComboBoxSpeed->setEditText(speed);
  form->CheckBoxConnect->setChecked(true);
}

std::string FormHarness::Line() const {
  std::string line;
  for (const auto& call : driver.calls) {
    if (call.function == "WriteFile" && !call.text.empty()) {
      line += (line.empty() || line.ends_with("| ") ? "" : " ") + Hex(call.text);
    } else if (call.function == "FlushFileBuffers") {
      line += (line.empty() ? "" : " | ") + std::string("drain") + " | ";
    } else if (call.function == "Pause") {
      line += (line.ends_with("| ") || line.empty() ? "" : " | ") + ("pause " + std::to_string(call.count)) +
              " | ";
    }
  }
  if (line.ends_with(" | ")) {
    line.resize(line.size() - 3);
  }
  return line;
}

std::vector<std::uint32_t> FormHarness::Pauses() const {
  std::vector<std::uint32_t> pauses;
  for (const auto& call : driver.calls) {
    if (call.function == "Pause") {
      pauses.push_back(call.count);
    }
  }
  return pauses;
}

std::string Hex(std::string_view bytes) {
  std::string text;
  for (const char byte : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned>(static_cast<unsigned char>(byte)));
    text += (text.empty() ? "" : " ") + std::string(pair);
  }
  return text;
}

std::string ScrollPauseLine() { return "pause " + std::to_string(kScrollTypeResetPauseMs); }

std::string ScrollTypeLine(int type) {
  return Hex(std::string{static_cast<char>(kCommandMarker), static_cast<char>(TDeviceCommand::dcScrollType),
                         static_cast<char>(type)}) +
         " | drain | " + ScrollPauseLine() + " | " +
         Hex(std::string{static_cast<char>(kCommandMarker), static_cast<char>(TDeviceCommand::dcReset)});
}

} // namespace kv58::testing
