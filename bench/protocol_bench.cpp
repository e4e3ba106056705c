// How much CPU the protocol layer spends around the port: draining a burst from the device,
// framing an upload, framing one command. The port is the recording fake and pauses cost
// nothing, so these figures are the layer's own overhead plus the fake's bookkeeping; the
// line itself (and the upload's one-second pauses) are not measured here.

#include <benchmark/benchmark.h>
#include <string>

#include "protocol/device_command.h"
#include "protocol/receive_monitor.h"
#include "protocol/text_upload.h"
#include "serial/testing/fake_serial_driver.h"

namespace kv58 {
namespace {

using testing::FakeSerialDriver;

void OpenForBench(TCOMSocket& port, benchmark::State& state) {
  if (!port.SetPortName("COM1") || !port.Open()) {
    state.SkipWithError("the fake port did not open");
  }
}

// A burst of 64 KiB, the most one tick takes: lines of 80 bytes ended by CR LF, or (range 0)
// one endless line that the monitor has to keep trimming.
void BM_ReceiveMonitorDrain64KiB(benchmark::State& state) {
  FakeSerialDriver driver;
  TCOMSocket port{driver};
  OpenForBench(port, state);
  const std::size_t lineLength = static_cast<std::size_t>(state.range(0));
  std::string burst;
  while (burst.size() < 64 * 1024) {
    burst += lineLength == 0 ? std::string(1024, 'a') : std::string(lineLength - 2, 'a') + "\r\n";
  }
  burst.resize(64 * 1024);
  ReceiveMonitor monitor;

  for (auto _ : state) {
    state.PauseTiming();
    driver.ClearRecord();
    driver.incoming = burst;
    state.ResumeTiming();
    monitor.Tick(port);
    benchmark::DoNotOptimize(monitor.Line().data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(burst.size()));
}
BENCHMARK(BM_ReceiveMonitorDrain64KiB)->Arg(0)->Arg(80);

void BM_UploadTextFraming(benchmark::State& state) {
  FakeSerialDriver driver;
  TCOMSocket port{driver};
  OpenForBench(port, state);
  const std::string text(static_cast<std::size_t>(state.range(0)), 'x');
  const Pause noPause = [](std::uint32_t) {};
  DebugLog log;

  for (auto _ : state) {
    driver.ClearRecord();
    log.Clear();
    UploadText(port, text, noPause, log);
    benchmark::DoNotOptimize(driver.sent.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_UploadTextFraming)->Arg(0)->Arg(256)->Arg(static_cast<std::int64_t>(kMaxTextBytes));

void BM_SendCommand(benchmark::State& state) {
  FakeSerialDriver driver;
  TCOMSocket port{driver};
  OpenForBench(port, state);

  for (auto _ : state) {
    driver.ClearRecord();
    benchmark::DoNotOptimize(SendCommand(port, TDeviceCommand::dcSpeed, 4));
  }
}
BENCHMARK(BM_SendCommand);

} // namespace
} // namespace kv58
