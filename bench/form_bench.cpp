// CPU cost of the window's own work on the recording serial driver, with pauses that return at
// once: a language pass (the example language file and one of 100 000 more rows), a click on
// the reset button, a key on the speed slider, and a whole upload of 1983 bytes. Runs on Qt's
// offscreen platform unless QT_QPA_PLATFORM says otherwise.
//   form_bench [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "app/form1.h"
#include "app/prompts.h"
#include "app/widgets/combo_box.h"
#include "app/widgets/track_bar.h"
#include "serial/testing/fake_port_source.h"
#include "serial/testing/fake_serial_driver.h"

#ifndef KV58_EXAMPLE_LANG_FILE
#error "KV58_EXAMPLE_LANG_FILE names the example language file"
#endif

namespace kv58 {
namespace {

namespace fs = std::filesystem;

constexpr int kExtraRows = 100'000;
constexpr std::size_t kRecordLimit = 10'000; // calls kept by the recording driver

class NoPrompts final : public Prompts {
public:
  std::optional<fs::path> file;
  std::optional<fs::path> AskFileToOpen() override { return file; }
  void ShowMessage(const std::string&) override {}
  void ShowError(const std::string&) override {}
  void SetApplicationTitle(const std::string&) override {}
};

// The example file with 100 000 rows of other texts after its language names, so that the
// window's own texts come last; and a text of the longest size to upload.
class Files {
public:
  Files()
      : folder_(fs::temp_directory_path() /
                ("kv58_form_bench_" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))) {
    fs::create_directories(folder_);
    std::ifstream example(KV58_EXAMPLE_LANG_FILE, std::ios::binary);
    std::string names;
    std::getline(example, names);
    std::ofstream out(LargeLanguageFile(), std::ios::binary);
    out << names << '\n';
    for (int i = 1; i <= kExtraRows; ++i) {
      out << "Tekst " << i << "\tTEXT " << i << "\tText " << i << "\t\r\n";
    }
    out << example.rdbuf();
    std::ofstream(Text(), std::ios::binary) << std::string(1983, 'x');
  }
  ~Files() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  Files(const Files&) = delete;
  Files& operator=(const Files&) = delete;

  [[nodiscard]] fs::path LargeLanguageFile() const { return folder_ / "lang-100000.txt"; }
  [[nodiscard]] fs::path Text() const { return folder_ / "text.txt"; }
  static const Files& Get() {
    static const Files files;
    return files;
  }

private:
  fs::path folder_;
};

struct Window {
  explicit Window(const fs::path& languageFile)
      : form(FormServices{driver, ports, prompts, [](std::uint32_t) {}, languageFile}) {}

  void Connect() {
    form.ComboBoxPort->setEditText(QStringLiteral("COM3"));
    form.CheckBoxConnect->setChecked(true);
  }
  void KeepRecordShort() {
    if (driver.calls.size() > kRecordLimit) {
      driver.ClearRecord();
    }
  }

  testing::FakeSerialDriver driver;
  testing::FakePortSource ports;
  NoPrompts prompts;
  TForm1 form;
};

void LanguageSwitch(benchmark::State& state, const fs::path& languageFile) {
  Window window(languageFile);
  int language = 0;
  for (auto _ : state) {
    language = 1 - language;
    window.form.ComboBoxLang->SetItemIndex(language);
    window.form.ComboBoxLangChange();
    window.KeepRecordShort();
  }
}

void BM_LanguageSwitchExampleFile(benchmark::State& state) { LanguageSwitch(state, KV58_EXAMPLE_LANG_FILE); }
BENCHMARK(BM_LanguageSwitchExampleFile)->Unit(benchmark::kMicrosecond);

void BM_LanguageSwitch100000MoreRows(benchmark::State& state) {
  LanguageSwitch(state, Files::Get().LargeLanguageFile());
}
BENCHMARK(BM_LanguageSwitch100000MoreRows)->Unit(benchmark::kMicrosecond);

void SendTo(QWidget* widget, QEvent&& event) { QApplication::sendEvent(widget, &event); }

// Press and release on the button's centre, as the system delivers a click.
void BM_ClickReset(benchmark::State& state) {
  Window window(KV58_EXAMPLE_LANG_FILE);
  window.Connect();
  QPushButton* button = window.form.Button2;
  const QPointF centre = QRectF(button->rect()).center();
  const QPointF global = button->mapToGlobal(centre);
  for (auto _ : state) {
    SendTo(button, QMouseEvent(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton,
                               Qt::NoModifier));
    SendTo(button, QMouseEvent(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton,
                               Qt::NoModifier));
    window.KeepRecordShort();
  }
}
BENCHMARK(BM_ClickReset)->Unit(benchmark::kMicrosecond);

// Right and Left in turn on the speed slider: each press moves it and sends the speed.
void BM_SpeedSliderKey(benchmark::State& state) {
  Window window(KV58_EXAMPLE_LANG_FILE);
  window.Connect();
  TTrackBar* slider = window.form.TrackBar1;
  bool right = true;
  for (auto _ : state) {
    const auto key = right ? Qt::Key_Right : Qt::Key_Left;
    SendTo(slider, QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
    SendTo(slider, QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier));
    right = !right;
    window.KeepRecordShort();
  }
}
BENCHMARK(BM_SpeedSliderKey)->Unit(benchmark::kMicrosecond);

// The send button's whole handler: file prompt, reading, progress display, eight pages.
void BM_UploadLongestText(benchmark::State& state) {
  Window window(KV58_EXAMPLE_LANG_FILE);
  window.Connect();
  window.prompts.file = Files::Get().Text();
  for (auto _ : state) {
    window.form.Button5Click();
    window.KeepRecordShort();
  }
}
BENCHMARK(BM_UploadLongestText)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace kv58

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  const QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
