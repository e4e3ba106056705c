#pragma once
// A horizontal slider whose Change signal fires on every value change, from the user or
// from code, and also on the user's end-of-movement notifications that leave the value as
// it is: the release after a drag or a click beside the handle, the release of a movement key,
// and a movement key pressed at the end of the range. Setting the current value from code
// fires nothing. Its keys are a Windows trackbar's: Left, Up and PageUp move towards the
// minimum, Right, Down and PageDown towards the maximum, Home and End to the ends.

#include <QSlider>

namespace kv58 {

class TTrackBar : public QSlider {
  Q_OBJECT
public:
  TTrackBar(int minimum, int maximum, int position, QWidget* parent);

  [[nodiscard]] int Position() const { return value(); }
  void SetPosition(int position) { setValue(position); }

signals:
  void Change();

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

private:
  [[nodiscard]] QRect HandleRect() const;

  bool pressed_ = false;
};

} // namespace kv58
