// The port box's list, rebuilt from the machine's ports each time it drops down.

#include <QCheckBox>
#include <gtest/gtest.h>

#include "app/tests/form_harness.h"
#include "app/widgets/combo_box.h"

namespace kv58 {
namespace {

QStringList Items(const QComboBox* box) {
  QStringList texts;
  for (int i = 0; i < box->count(); ++i) {
    texts << box->itemText(i);
  }
  return texts;
}

class PortListTest : public ::testing::Test {
protected:
  void SetUp() override {
    harness.ports.AddText("\\Device\\Serial9", "COM10");
    harness.ports.AddText("\\Device\\Serial2", "COM3");
    harness.ports.AddText("\\Device\\Serial0", "COM1");
    harness.Create();
  }
  testing::FormHarness harness;
  TForm1& form() { return *harness.form; }
};

TEST_F(PortListTest, DroppingDownListsThePortsInNumericOrder) {
  form().ComboBoxPort->showPopup();
  EXPECT_EQ(Items(form().ComboBoxPort), QStringList({"COM1", "COM3", "COM10"}));
  form().ComboBoxPort->hidePopup();
  form().ComboBoxPort->showPopup();
  EXPECT_EQ(Items(form().ComboBoxPort), QStringList({"COM1", "COM3", "COM10"})) << "no duplicates";
  form().ComboBoxPort->hidePopup();
}

TEST_F(PortListTest, DroppingDownWhileConnectedKeepsTheTextAndThePort) {
  harness.Connect("COM3");
  ASSERT_TRUE(form().ComPort.IsOpen());
  harness.ports.values.erase(harness.ports.values.begin() + 1); // COM3 vanished meanwhile
  harness.driver.ClearRecord();

  form().ComboBoxPort->showPopup();

  EXPECT_EQ(Items(form().ComboBoxPort), QStringList({"COM1", "COM10"}));
  EXPECT_EQ(form().ComboBoxPort->currentText(), "COM3");
  EXPECT_TRUE(harness.driver.calls.empty()) << "the open port is not touched";
  EXPECT_TRUE(form().ComPort.IsOpen());
  EXPECT_TRUE(form().CheckBoxConnect->isChecked());
  form().ComboBoxPort->hidePopup();
}

TEST_F(PortListTest, NoPortsLeavesAnEmptyListAndTheTypedText) {
  harness.ports.keyMissing = true;
  form().ComboBoxPort->setEditText("COM42");
  form().ComboBoxPort->showPopup();
  EXPECT_EQ(form().ComboBoxPort->count(), 0);
  EXPECT_EQ(form().ComboBoxPort->currentText(), "COM42");
  form().ComboBoxPort->hidePopup();
}

} // namespace
} // namespace kv58
