#pragma once
// The window's dialogs behind one small interface, so tests can script them: the open-file
// prompt, the plain message box and the error box.

#include <filesystem>
#include <optional>
#include <string>

class QWidget;

namespace kv58 {

class Prompts {
public:
  virtual ~Prompts() = default;

  // The path the user chose or typed, whether that file exists or not; nothing when the
  // prompt was cancelled.
  [[nodiscard]] virtual std::optional<std::filesystem::path> AskFileToOpen() = 0;
  // A modal box with the text, an empty caption, one OK button and no icon.
  virtual void ShowMessage(const std::string& text) = 0;
  // The error box: critical icon, the message and OK.
  virtual void ShowError(const std::string& message) = 0;
  // The name the error box carries as its title (UTF-8).
  virtual void SetApplicationTitle(const std::string& title) = 0;

protected:
  Prompts() = default;
  Prompts(const Prompts&) = default;
  Prompts& operator=(const Prompts&) = default;
};

// The real dialogs, owned by `parent` for placement.
class QtPrompts final : public Prompts {
public:
  explicit QtPrompts(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }

  std::optional<std::filesystem::path> AskFileToOpen() override;
  void ShowMessage(const std::string& text) override;
  void ShowError(const std::string& message) override;
  void SetApplicationTitle(const std::string& title) override { title_ = title; }

private:
  QWidget* parent_;
  std::string title_;
};

} // namespace kv58
