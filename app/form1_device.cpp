// The handlers that drive the display: the three sliders, the scroll type, store and reset,
// and the timer that drains what the device sends back.

#include <QCheckBox>
#include <QLabel>
#include <QTimer>

#include "app/form1.h"
#include "app/receive_beat.h"
#include "app/widgets/radio_group.h"
#include "app/widgets/track_bar.h"
#include "app/widgets/value_label.h"
#include "protocol/device_command.h"
#include "protocol/frame_sequence.h"

namespace kv58 {
namespace {

void ShowPosition(TValueLabel* label, const TTrackBar* bar) {
  label->SetValue(QString::number(bar->Position()));
}

} // namespace

void TForm1::TrackBar1Change() {
  ShowPosition(Label7, TrackBar1);
  SendFrame(TDeviceCommand::dcSpeed, ParameterByte(TrackBar1->Position()));
}

// The first line never goes below the last: pushing one slider past the other drags the
// other along, and the device hears about the dragged one first.
void TForm1::TrackBar3Change() {
  ShowPosition(Label2, TrackBar3);
  if (TrackBar3->Position() > TrackBar2->Position()) {
    TrackBar2->SetPosition(TrackBar3->Position()); // runs TrackBar2Change in full
  }
  SendFrame(TDeviceCommand::dcFirstLine, ParameterByte(TrackBar3->Position()));
}

void TForm1::TrackBar2Change() {
  ShowPosition(Label6, TrackBar2);
  if (TrackBar3->Position() > TrackBar2->Position()) {
    TrackBar3->SetPosition(TrackBar2->Position()); // runs TrackBar3Change in full
  }
  SendFrame(TDeviceCommand::dcLastLine, ParameterByte(TrackBar2->Position()));
}

// One frame, one step: its bytes leave back to back. Its line is written once it has gone.
void TForm1::SendFrame(TDeviceCommand code, std::uint8_t parameter) {
  bool sent = false;
  if (RunStep([&] { sent = SendCommand(ComPort, code, parameter); })) {
    LogOutcome(DebugMemo, code, sent);
  }
}

// Every frame of the scroll type goes out and leaves its line, whatever became of the one
// before. The frames are written on the driver thread; their pause and their lines come back
// to the window's.
void TForm1::RadioGroup1Click() {
  const std::uint8_t type = ParameterByte(RadioGroup1->ItemIndex());
  (void)RunStep([&] {
    (void)SendScrollType(
        ComPort, type, [this](std::uint32_t milliseconds) { PauseFromStep(milliseconds); },
        [this](const Frame& frame, bool sent) {
          driverThread_.OnCaller([&] { LogOutcome(DebugMemo, frame.code, sent); });
          return true;
        });
  });
}

// The pause takes events to keep the window painting, the receive timer's among them; the
// device's pauses are silence on the line, so nothing is read during one.
void TForm1::PauseWithoutReceiving(std::uint32_t milliseconds) {
  const HeldReceiveTimer held(*Timer1);
  services_.pause(milliseconds);
}

void TForm1::Button1Click() { SendFrame(TDeviceCommand::dcStore); }

void TForm1::Button2Click() { SendFrame(TDeviceCommand::dcReset); }

// A tick that falls during another step reads nothing: the line is busy, nothing is waiting
// as far as the window can tell.
void TForm1::Timer1Timer() {
  KeepReceiveBeat(*Timer1);
  bool overflowed = false;
  bool gone = false;
  if (!RunStep([&] {
        receiver_.Tick(ComPort);
        overflowed = ComPort.TakeInputOverflow();
        // A device server's connection that went dead (no answer to the keepalive, or closed)
        // ends the connection as a port that fails to open does.
        const auto& name = ComPort.GetPortName();
        gone = ComPort.IsOpen() && name && name->IsNetwork() && !ComPort.LineIsAlive();
      })) {
    return;
  }
  if (overflowed && !inputOverflowSaid_) {
    inputOverflowSaid_ = true; // once a connection: a flood would fill the log
    DebugMemo.Log(kInputOverflowText);
  }
  if (gone) {
    DebugMemo.Log(kConnectionGoneText);
    DebugMemo.Log(kOpenFailedText);
    CheckBoxConnect->setChecked(false); // closes and logs, as an untick does
  }
}

} // namespace kv58
