// The language list and the language pass over the window's texts.

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "app/application.h"
#include "app/tests/form_harness.h"
#include "app/widget_text.h"
#include "app/widgets/combo_box.h"
#include "app/widgets/radio_group.h"
#include "common/testing/scratch_dir.h"

namespace kv58 {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using testing::ScrollTypeLine;

// Row 0 names two languages; every other row holds a key's texts, the key in column 1.
constexpr const char* kTwoLanguages = "Polski\tEnglish\t\n"
                                      "ZAPISZ\tSAVE\t\n"
                                      "Zeruj\tRESET\t\n"
                                      "Wyślij tekst\tSEND TEXT\t\n"
                                      "Ilość znaków\tNUMBER OF CHARACTERS\t\n"
                                      "Język\tLANGUAGE\t\n"
                                      "Połącz\tCONNECT\t\n"
                                      "Ustawienia scrollu\tSCROLL SETTINGS\t\n"
                                      "Pierwsza linia\tFIRST LINE\t\n"
                                      "Ostatnia linia\tLAST LINE\t\n"
                                      "Szybkość\tSPEED\t\n"
                                      "Rodzaj scrollu\tTYPE OF SCROLL\t\n"
                                      "Brak\tOFF\t\n"
                                      "Pionowy\tVERTICAL\t\n"
                                      "Poziomy\tHORIZONTAL\t\n"
                                      "Port połączony\tPORT CONNECTED\t\n";

class LanguageTest : public ::testing::Test {
protected:
  fs::path WriteLanguageFile(std::string_view content) {
    const fs::path path = folder / "lang.txt";
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  void CreateWith(std::string_view content) { harness.Create(WriteLanguageFile(content)); }
  void PickLanguage(int index) {
    form().ComboBoxLang->showPopup();
    form().ComboBoxLang->hidePopup();
    form().ComboBoxLang->setCurrentIndex(index);
    emit form().ComboBoxLang->activated(index); // as the user's pick
  }
  [[nodiscard]] QStringList Texts() {
    TForm1& f = form();
    return {f.Button1->text(),    f.Button2->text(),         f.Button5->text(),     f.Label1->text(),
            f.Label5->text(),     f.CheckBoxConnect->text(), f.GroupBox1->title(),  f.GroupBox2->title(),
            f.GroupBox3->title(), f.GroupBox4->title(),      f.RadioGroup1->title()};
  }

  testing::ScratchDir scratch;
  const fs::path folder = scratch.Path();
  testing::FormHarness harness;
  TForm1& form() { return *harness.form; }
};

TEST_F(LanguageTest, StartsInTheFirstLanguageAndSwitchesEveryTarget) {
  CreateWith(kTwoLanguages);
  EXPECT_EQ(form().ComboBoxLang->count(), 2);
  EXPECT_EQ(form().ComboBoxLang->currentText(), "Polski");
  EXPECT_EQ(Texts(), QStringList({"zapisz", "zeruj", "wyślij tekst", "ilość znaków = ", "JĘZYK", "połącz",
                                  "ustawienia scrollu", "pierwsza linia", "ostatnia linia", "szybkość",
                                  "rodzaj scrollu"}));
  EXPECT_EQ(form().RadioGroup1->Items(), QStringList({"brak", "pionowy", "poziomy"}));
  // Kept in UTF-8, as every line of the debug log.
  EXPECT_EQ(QString::fromStdString(form().PortConnectedText), QStringLiteral("port połączony"));

  PickLanguage(1);

  EXPECT_EQ(Texts(),
            QStringList({"save", "reset", "send text", "number of characters = ", "LANGUAGE", "connect",
                         "scroll settings", "first line", "last line", "speed", "type of scroll"}));
  EXPECT_EQ(form().RadioGroup1->Items(), QStringList({"off", "vertical", "horizontal"}));
  EXPECT_EQ(form().PortConnectedText, "port connected");
  EXPECT_EQ(form().windowTitle(), "KV - 58 Scroll controller") << "the caption is never translated";
  EXPECT_EQ(form().Label4->text(), "PORT");
  EXPECT_GE(form().Label1->width(), form().Label1->sizeHint().width()) << "a longer caption is not cut off";
  EXPECT_EQ(form().Label1->pos(), QPoint(8, 280));
}

TEST_F(LanguageTest, MissingKeysShowInBracesAndNullCellsEmptyTheirTarget) {
  CreateWith("A\tB\t\n"
             "*NULL*\tNUMBER OF CHARACTERS\t\n"
             "Zapisz\tSAVE\t\n");
  EXPECT_EQ(form().Label1->text(), " = ");
  EXPECT_EQ(form().Button1->text(), "zapisz");
  EXPECT_EQ(form().Button2->text(), "{reset}");
  EXPECT_EQ(form().Label5->text(), "{LANGUAGE}");
  EXPECT_EQ(form().PortConnectedText, "{port connected}");
  EXPECT_TRUE(harness.prompts.errors.empty());
}

TEST_F(LanguageTest, WithoutALanguageFileEveryTextIsItsKeyInBraces) {
  harness.Create(folder / "absent.txt");
  EXPECT_EQ(Texts(), QStringList({"{save}", "{reset}", "{send text}",
                                  "{number of characters} = ", "{LANGUAGE}", "{connect}", "{scroll settings}",
                                  "{first line}", "{last line}", "{speed}", "{type of scroll}"}));
  EXPECT_EQ(form().RadioGroup1->Items(), QStringList({"{off}", "{vertical}", "{horizontal}"}));
  EXPECT_EQ(form().ComboBoxLang->count(), 0);
  EXPECT_EQ(form().ComboBoxLang->currentText(), "ComboBoxLang");
  EXPECT_EQ(form().ComboBoxLang->ItemIndex(), -1);
  EXPECT_TRUE(harness.prompts.errors.empty());
  EXPECT_TRUE(harness.prompts.title.empty());
}

TEST_F(LanguageTest, AShortRowStopsThePassAtItsStepWithTheErrorBox) {
  CreateWith("Polski\tEnglish\t\n"
             "Zapisz\tSAVE\t\n"
             "Zeruj\tRESET\t\n"
             "SEND TEXT\t\n" // no English cell: step 3 fails in column 1
             "Połącz\tCONNECT\t\n");
  PickLanguage(1);

  EXPECT_THAT(harness.prompts.errors, ElementsAre("List index out of bounds (1)"));
  EXPECT_EQ(form().Button1->text(), "save") << "earlier steps keep their new texts";
  EXPECT_EQ(form().Button2->text(), "reset");
  EXPECT_EQ(form().Button5->text(), "send text") << "later targets keep the previous pass's texts";
  EXPECT_EQ(form().CheckBoxConnect->text(), "połącz");
}

TEST_F(LanguageTest, TypingIntoTheListLeavesNoColumnAndTheFirstLookupFails) {
  CreateWith(kTwoLanguages);
  QTest::keyClicks(form().ComboBoxLang->lineEdit(), "x");
  EXPECT_EQ(form().ComboBoxLang->ItemIndex(), -1);
  EXPECT_THAT(harness.prompts.errors, ElementsAre("List index out of bounds (-1)"));
  EXPECT_EQ(form().Button1->text(), "zapisz");
}

TEST_F(LanguageTest, EveryPassRunsTheScrollTypeHandlerOnceWithTheSelectionKept) {
  CreateWith(kTwoLanguages);
  EXPECT_THAT(harness.Log(), ElementsAre("", "Port nie połączony", "Port nie połączony"))
      << "the first pass, port closed: the scroll type and the reset fail";

  harness.Connect();
  form().RadioGroup1->SetItemIndex(2);
  harness.driver.ClearRecord();
  PickLanguage(1);

  EXPECT_EQ(harness.Line(), ScrollTypeLine(2));
  EXPECT_EQ(form().RadioGroup1->ItemIndex(), 2);
}

TEST_F(LanguageTest, OpeningTheListTwiceKeepsItemsAndSelection) {
  CreateWith(kTwoLanguages);
  PickLanguage(1);
  form().ComboBoxLang->showPopup();
  form().ComboBoxLang->hidePopup();
  form().ComboBoxLang->showPopup();
  form().ComboBoxLang->hidePopup();
  EXPECT_EQ(form().ComboBoxLang->count(), 2);
  EXPECT_EQ(form().ComboBoxLang->ItemIndex(), 1);
  EXPECT_EQ(form().ComboBoxLang->currentText(), "English");
}

// The encoding is judged once per file: "WIĘŹ" in Windows-1250 (57 49 CA 8F) happens to be
// valid UTF-8 on its own, and still shows as the Polish word.
TEST_F(LanguageTest, WindowsAndUtf8FilesShowTheSamePolishLetters) {
  // "Połącz", "Język" and "WIĘŹ" in Windows-1250 bytes.
  CreateWith("Polski\t\nPo\xB3\xB9"
             "cz\tCONNECT\t\nJ\xEAzyk\tLANGUAGE\t\nWI\xCA\x8F\tSAVE\t\n");
  const QString windows = form().CheckBoxConnect->text() + form().Label5->text() + form().Button1->text();
  harness.form.reset();
  CreateWith("Polski\t\nPołącz\tCONNECT\t\nJęzyk\tLANGUAGE\t\nWIĘŹ\tSAVE\t\n");
  EXPECT_EQ(form().CheckBoxConnect->text() + form().Label5->text() + form().Button1->text(), windows);
  EXPECT_EQ(windows, "połączJĘZYKwięź");
}

TEST_F(LanguageTest, TheTitleRowNamesTheApplicationButNotTheWindow) {
  CreateWith("Polski\t\nSterownik KV-58\tGLOBAL APPLICATION TITLE\t\n");
  EXPECT_EQ(harness.prompts.title, "Sterownik KV-58");
  EXPECT_EQ(form().windowTitle(), "KV - 58 Scroll controller");
}

TEST_F(LanguageTest, AFolderNamedLikeTheLanguageFileIsNoFile) {
  fs::create_directories(folder / "lang.txt");
  harness.Create(folder / "lang.txt");
  EXPECT_EQ(form().Button1->text(), "{save}");
  EXPECT_THAT(harness.prompts.errors, ::testing::IsEmpty());
}

// A FIFO that no one writes would hold start-up for ever if it were opened.
TEST_F(LanguageTest, ALanguageFileThatCannotBeReadEndsStartUpWithTheErrorBox) {
#ifdef _WIN32
  GTEST_SKIP() << "FIFOs are a POSIX matter; the language file's own tests cover opening on Windows";
#else
  const fs::path unreadable = folder / "lang.txt";
  ASSERT_EQ(::mkfifo(unreadable.c_str(), 0600), 0);
  const Pause noPause = [](std::uint32_t) {};
  const auto window = CreateMainWindow(
      FormServices{harness.driver, harness.ports, harness.prompts, noPause, unreadable}, harness.prompts);
  EXPECT_EQ(window, nullptr);
  EXPECT_THAT(harness.prompts.errors, ElementsAre("Cannot open file " + unreadable.string()));
#endif
}

} // namespace
} // namespace kv58
