// The window as it is created: every control with its parent, place, text, range and
// state. Nothing here is connected to a handler yet, so building it fires nothing.

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <array>

#include "app/fonts.h"
#include "app/form1.h"
#include "app/receive_beat.h"
#include "app/system_colors.h"
#include "app/widgets/combo_box.h"
#include "app/widgets/radio_group.h"
#include "app/widgets/track_bar.h"
#include "app/widgets/value_label.h"
#include "protocol/device_command.h"

namespace kv58 {
namespace {

constexpr int kClientWidth = 393;
constexpr int kClientHeight = 584;

QColor Color(TColor color) { return SystemColor(color, QPalette()); }

void SetTextColor(QWidget* widget, TColor color) {
  QPalette palette = widget->palette();
  for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text}) {
    palette.setColor(QPalette::Active, role, Color(color));
    palette.setColor(QPalette::Inactive, role, Color(color));
  }
  widget->setPalette(palette);
}

// Every control with text but the panel uses the control font in the window text colour.
template <typename Widget> Widget* Styled(Widget* widget, QRect geometry) {
  widget->setFont(ControlFont());
  SetTextColor(widget, TColor::clWindowText);
  widget->setGeometry(geometry);
  return widget;
}

QLabel* MakeLabel(const QString& text, QWidget* parent, QRect geometry) {
  return Styled(new QLabel(text, parent), geometry);
}

// A slider's value beside it, named after the slider's group.
TValueLabel* MakeValueLabel(const QString& text, QGroupBox* parent) {
  TValueLabel* label = Styled(new TValueLabel(parent->title(), text, parent), {329, 22, 25, 23});
  label->setAlignment(Qt::AlignCenter);
  label->setEnabled(false);
  return label;
}

QGroupBox* MakeGroupBox(const QString& caption, QWidget* parent, QRect geometry) {
  auto* box = new QGroupBox(caption, parent);
  box->setGeometry(geometry);
  return box;
}

TTrackBar* MakeTrackBar(int minimum, int maximum, int position, QWidget* parent, QRect geometry) {
  auto* bar = new TTrackBar(minimum, maximum, position, parent);
  bar->setGeometry(geometry);
  bar->setEnabled(false);
  return bar;
}

TComboBox* MakeComboBox(const QStringList& items, QWidget* parent, QRect geometry) {
  auto* box = Styled(new TComboBox(parent), geometry);
  box->addItems(items);
  box->SetItemIndex(items.isEmpty() ? -1 : 0);
  return box;
}

QPushButton* MakeButton(const QString& text, QWidget* parent, QRect geometry) {
  auto* button = Styled(new QPushButton(text, parent), geometry);
  button->setEnabled(false);
  return button;
}

void SetBackground(QWidget* widget, QPalette::ColorRole role, TColor color) {
  QPalette palette = widget->palette();
  palette.setColor(role, Color(color));
  widget->setPalette(palette);
}

} // namespace

void TForm1::CreateControls() {
  setWindowTitle(QStringLiteral("KV - 58 Scroll controller"));
  setFont(WindowFont());
  SetBackground(this, QPalette::Window, TColor::clBtnFace);
  setAutoFillBackground(true);
  resize(kClientWidth, kClientHeight);

  PanelMain = new QWidget(this);
  PanelMain->setFont(WindowFont());
  auto* fill = new QVBoxLayout(this);
  fill->setContentsMargins(0, 0, 0, 0);
  fill->addWidget(PanelMain);

  // Created in reading order, which is the order assistive technology reads them in; none
  // overlaps another, so the order changes nothing on screen.
  Label4 = MakeLabel(QStringLiteral("PORT"), PanelMain, {8, 0, 43, 23});
  ComboBoxPort = MakeComboBox({QStringLiteral("COM1")}, PanelMain, {8, 39, 137, 31});
  Label9 = MakeLabel(QString(), PanelMain, {8, 95, 0, 0});
  ComboBoxSpeed = MakeComboBox({QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("115200")},
                               PanelMain, {8, 95, 137, 31});
  CheckBoxConnect = Styled(new QCheckBox(QStringLiteral("Połącz"), PanelMain), {64, 1, 113, 24});
  Label5 = MakeLabel(QStringLiteral("JĘZYK"), PanelMain, {216, 0, 54, 23});
  ComboBoxLang = MakeComboBox({}, PanelMain, {216, 39, 137, 31});
  ComboBoxLang->setEditText(QStringLiteral("ComboBoxLang"));

  RadioGroup1 = new TRadioGroup(QStringLiteral("Rodzaj scrollu"), 3, PanelMain);
  RadioGroup1->setGeometry(8, 152, 377, 67);
  RadioGroup1->setFont(ControlFont());
  SetTextColor(RadioGroup1, TColor::clGrayText);
  // The items stand for the device's scroll types, in the order of their values.
  constexpr std::array<const char*, kScrollTypeCount> kScrollItems{"Brak", "Pionowy", "Poziomy"};
  for (const char* item : kScrollItems) {
    RadioGroup1->AddItem(QString::fromUtf8(item));
  }
  RadioGroup1->SetItemIndex(0);
  RadioGroup1->setEnabled(false);

  EditHorizFile = Styled(new QLineEdit(PanelMain), {8, 240, 273, 31});
  EditHorizFile->setEnabled(false);
  SetBackground(EditHorizFile, QPalette::Base, TColor::clBtnFace);
  Button5 = MakeButton(QStringLiteral("Wyślij tekst"), PanelMain, {288, 240, 98, 25});
  Label1 = MakeLabel(QStringLiteral("Ilość znaków ="), PanelMain, {8, 280, 108, 23});
  Label3 = Styled(new TValueLabel(QStringLiteral("Ilość znaków"), QStringLiteral("0"), PanelMain),
                  {184, 280, 10, 23});
  Label8 = MakeLabel(QStringLiteral("max  1983"), PanelMain, {8, 304, 75, 23});
  Button2 = MakeButton(QStringLiteral("Zeruj"), PanelMain, {288, 272, 98, 25});
  Button1 = MakeButton(QStringLiteral("Zapisz"), PanelMain, {288, 305, 98, 24});

  // The scroll settings share one font, grey until connected; the value labels and the
  // sliders keep their own colours.
  GroupBox1 = MakeGroupBox(QStringLiteral("Ustawienia scrollu"), PanelMain, {8, 328, 377, 233});
  GroupBox1->setFont(ControlFont());
  SetTextColor(GroupBox1, TColor::clGrayText);
  GroupBox2 = MakeGroupBox(QStringLiteral("Pierwsza linia"), GroupBox1, {8, 32, 361, 57});
  TrackBar3 = MakeTrackBar(kTopLine, kBottomLine, kTopLine, GroupBox2, {8, 24, 321, 25});
  Label2 = MakeValueLabel(QStringLiteral("1"), GroupBox2);
  GroupBox3 = MakeGroupBox(QStringLiteral("Ostatnia linia"), GroupBox1, {8, 96, 361, 57});
  TrackBar2 = MakeTrackBar(kTopLine, kBottomLine, kBottomLine, GroupBox3, {8, 24, 321, 25});
  Label6 = MakeValueLabel(QStringLiteral("22"), GroupBox3);
  GroupBox4 = MakeGroupBox(QStringLiteral("Szybkość"), GroupBox1, {8, 160, 361, 65});
  TrackBar1 = MakeTrackBar(kMinSpeed, kMaxSpeed, 4, GroupBox4, {8, 24, 321, 33});
  Label7 = MakeValueLabel(QStringLiteral("4"), GroupBox4);

  setTabOrder(TrackBar3, TrackBar2);
  setTabOrder(TrackBar2, TrackBar1);
  setTabOrder(TrackBar1, EditHorizFile);
  setTabOrder(EditHorizFile, ComboBoxSpeed);
  setTabOrder(ComboBoxSpeed, ComboBoxPort);
  setTabOrder(ComboBoxPort, CheckBoxConnect);
  setTabOrder(CheckBoxConnect, Button5);
  setTabOrder(Button5, Button2);
  setTabOrder(Button2, Button1);
  // A group box takes no focus itself: its buttons do, the group keeping them in place through
  // every language pass. It stands before them in the chain, as it did when it was made after
  // the buttons above.
  setTabOrder(Button1, RadioGroup1);
  QWidget* previous = RadioGroup1;
  for (const int item : {0, 1, 2}) {
    setTabOrder(previous, RadioGroup1->Button(item));
    previous = RadioGroup1->Button(item);
  }
  setTabOrder(previous, ComboBoxLang);

  // The receive timer ticks only while the port is open (see ApplyConnectionState): closed,
  // a tick has nothing to read, and an idle window should not wake up for it.
  Timer1 = new QTimer(this);
  Timer1->setInterval(kReceiveIntervalMs);
  NameControls();
}

void TForm1::ApplyConnectionState() {
  const bool on = CheckBoxConnect->isChecked();
  for (QWidget* control :
       std::initializer_list<QWidget*>{TrackBar1, TrackBar2, TrackBar3, Label2, Label6, Label7, RadioGroup1,
                                       Button1, Button5, Button2, EditHorizFile}) {
    control->setEnabled(on);
  }
  SetBackground(EditHorizFile, QPalette::Base, on ? TColor::clWindow : TColor::clBtnFace);
  const TColor text = on ? TColor::clWindowText : TColor::clGrayText;
  SetTextColor(RadioGroup1, text);
  SetTextColor(GroupBox1, text);
  // A port whose close failed is still open, and still drained.
  if (!ComPort.IsOpen()) {
    Timer1->stop();
  } else if (!Timer1->isActive()) {
    Timer1->start(); // a running timer keeps its beat
  }
}

} // namespace kv58
