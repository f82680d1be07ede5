// Cost of the log front end: a refused LogVerbose call, and accepted LogInfo records per
// second against a memcpy of the same record bytes into a ring, measured in one run.
// The program links the library's objects, so it calls LogInfo/LogVerbose directly, and
// serves its own directory's channel in-process with a draining thread as a log server would.
#include "bench/BenchClock.h"
#include "log/Log.h"
#include "log/LogRecord.h"
#include "log/LogRing.h"
#include "tools/logserver/LogServer.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

}  // namespace

int main(int argc, char** argv)
{
  const long refusedCalls = argc > 1 ? std::atol(argv[1]) : 20000000;
  const long acceptedRecords = argc > 2 ? std::atol(argv[2]) : 30000;

  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  TLogServerTableHost table;
  TLogChannelHost channel;
  std::wstring error;
  const std::wstring name = L"bench-" + std::to_wstring(GetCurrentProcessId());
  if (!table.Open(&error) || !channel.Create(name, 0, &error) ||
      !table.Register({ToU16(LogServerDirectoryOf(self)), ToU16(name), {}})) {
    std::fprintf(stderr, "log bench: cannot set up a channel: %ls\n", error.c_str());
    return 1;
  }
  LogInfo("%s connect", "LogBench");  // the first ordinary call connects
  channel.Drain();

  // 1. Refused verbose messages: level 0, channel connected.
  const double t0 = BenchSeconds();
  for (long i = 0; i < refusedCalls; ++i) LogVerbose("%s frame %ld", "LogBench::Refused", i);
  const double refusedSeconds = BenchSeconds() - t0;

  // 2. Accepted records, drained by a server thread.
  std::atomic<bool> stop{false};
  std::atomic<long> received{0};
  // The server drains in batches every few milliseconds instead of waking for every
  // record, so that the figure is the writer's cost rather than mutex ping-pong.
  std::thread server([&] {
    while (!stop.load()) {
      Sleep(5);
      received += long(channel.Drain().size());
    }
    received += long(channel.Drain().size());
  });
  const char* function = "TPictor::ProcessRGB32Sample";
  const double t1 = BenchSeconds();
  for (long i = 0; i < acceptedRecords; ++i)
    LogInfo("%s frame %ld size %dx%d stride %d", function, i, 1920, 1080, 7680);
  const double acceptedSeconds = BenchSeconds() - t1;
  stop = true;
  server.join();

  // 3. Baseline: the same record bytes copied into a ring of the channel's size.
  char text[256];
  const int textLength = std::snprintf(text, sizeof text, "%s frame %ld size %dx%d stride %d", function,
                                       acceptedRecords / 2, 1920, 1080, 7680);
  const uint32_t recordSize = LogRecordSizeFor(uint32_t(textLength) + 1);
  std::vector<uint8_t> record(recordSize, 0);
  BuildLogRecord(record.data(), TLogRecordFields{}, text, uint32_t(textLength) + 1);
  std::vector<uint8_t> ring(kLogChannelDefaultCapacity);
  uint32_t offset = 0;
  const double t2 = BenchSeconds();
  for (long i = 0; i < acceptedRecords; ++i) {
    if (offset + recordSize > ring.size()) offset = 0;
    std::memcpy(ring.data() + offset, record.data(), recordSize);
    offset += recordSize;
  }
  const double copySeconds = BenchSeconds() - t2;
  volatile uint8_t sink = ring[offset / 2];
  (void)sink;

  // 4. What the channel's kernel objects cost by themselves: one wait and release of the
  // write mutex and one SetEvent per record.
  const long kernelRounds = acceptedRecords < 20000 ? acceptedRecords : 20000;
  const double t3 = BenchSeconds();
  for (long i = 0; i < kernelRounds; ++i) {
    WaitForSingleObject(channel.WriteMutex(), INFINITE);
    ReleaseMutex(channel.WriteMutex());
    SetEvent(channel.ReadyEvent());
  }
  const double kernelSeconds = BenchSeconds() - t3;

  std::printf("log front end (%ld refused calls, %ld accepted records of %u bytes)\n", refusedCalls, acceptedRecords,
              recordSize);
  std::printf("  refused LogVerbose         %8.2f ns/call\n", refusedSeconds * 1e9 / double(refusedCalls));
  std::printf("  accepted LogInfo           %8.0f records/s  (%.2f us/record, %ld of %ld received)\n",
              double(acceptedRecords) / acceptedSeconds, acceptedSeconds * 1e6 / double(acceptedRecords),
              received.load(), acceptedRecords);
  std::printf("  memcpy of the same bytes   %8.0f records/s  (%.3f us/record)\n", double(acceptedRecords) / copySeconds,
              copySeconds * 1e6 / double(acceptedRecords));
  std::printf("  mutex wait+release+SetEvent %7.2f us/record (the kernel calls each record makes)\n",
              kernelSeconds * 1e6 / double(kernelRounds));
  std::printf("  ratio LogInfo / memcpy     %8.1f x\n", acceptedSeconds / copySeconds);
  table.Unregister(ToU16(name));
  return 0;
}
