// The floor for the controller's start-up: a bare Qt window with the same kinds of widgets,
// shown and left running. scripts/bench-startup times both to their first mapped window.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

int main(int argc, char* argv[]) {
  const QApplication application(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("floor"));
  auto* column = new QVBoxLayout(&window);
  auto* combo = new QComboBox;
  combo->setEditable(true);
  combo->addItems({QStringLiteral("9600"), QStringLiteral("19200")});
  column->addWidget(combo);
  column->addWidget(new QCheckBox(QStringLiteral("Połącz")));
  column->addWidget(new QLabel(QStringLiteral("PORT")));
  column->addWidget(new QLineEdit);
  column->addWidget(new QPushButton(QStringLiteral("Zapisz")));
  auto* group = new QGroupBox(QStringLiteral("Ustawienia scrollu"));
  auto* inGroup = new QVBoxLayout(group);
  inGroup->addWidget(new QSlider(Qt::Horizontal));
  inGroup->addWidget(new QRadioButton(QStringLiteral("Brak")));
  column->addWidget(group);
  window.show();
  return QApplication::exec();
}
