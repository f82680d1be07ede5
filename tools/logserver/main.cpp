// pictor-logserver: publishes a directory in the log registration table, creates its
// channel, and prints every record the libraries loaded from that directory write.
#include "LogServer.h"

#include "log/LogRecord.h"

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>

namespace {

const char kUsage[] =
    "usage: pictor-logserver [options]\n"
    "\n"
    "Receives the diagnostic records of Pictor.dll (and any library using its log channel)\n"
    "loaded from a registered directory, and prints one line per record:\n"
    "  time(s)  pid  module  thread  kind  text\n"
    "\n"
    "options:\n"
    "  --dir DIR            directory to register (default: this program's directory);\n"
    "                       every library loaded from DIR or below logs to this server\n"
    "  --channel NAME       channel name (default: pictor-<process id>)\n"
    "  --level N            verbosity 0-3: 0 and 1 ordinary and error records, 2 verbose\n"
    "                       records too, 3 verbose without the libraries' trace-only work\n"
    "                       (default 0)\n"
    "  --suspend            start with writing suspended (libraries drop their records)\n"
    "  --out FILE           append the lines to FILE as well\n"
    "  --quiet              with --out: the lines go to FILE only, and the server prints\n"
    "                       nothing but its errors\n"
    "  --module NAME        register only this file of DIR (repeatable; default: every\n"
    "                       .dll and .exe in DIR)\n"
    "  --stop-event NAME    stop cleanly when the named event (created here) is set\n"
    "  --run-for SECONDS    stop cleanly after SECONDS\n"
    "  --stop NAME          stop the server that was started with --stop-event NAME, and exit\n"
    "  --list               print the registration table and exit\n"
    "  --help               this text\n"
    "\n"
    "While running, commands on standard input: level N, suspend, resume, stop.\n"
    "Ctrl+C stops cleanly; the last records are printed before the server exits.\n";

struct Options {
  std::wstring directory;
  std::wstring channel;
  int level = 0;
  bool suspend = false;
  std::wstring outFile;
  std::wstring stopEvent;
  double runFor = 0;
  bool list = false;
  std::wstring stopOther;
  std::vector<std::wstring> modules;  // --module: file names in the directory
  bool quiet = false;
};

// Set by Ctrl+C and by "stop" on standard input. Never closed: the console handler and
// the command reader may set it until the process ends.
HANDLE g_StopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type)
{
  if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
    SetEvent(g_StopEvent);
    return TRUE;
  }
  return FALSE;
}

int UsageError(const std::string& message)
{
  std::fprintf(stderr, "pictor-logserver: %s\n(see pictor-logserver --help)\n", message.c_str());
  return 2;
}

std::string Narrow(const std::wstring& text)
{
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

bool ParseInt(const wchar_t* text, long minimum, long maximum, long* value)
{
  wchar_t* end = nullptr;
  errno = 0;
  const long v = std::wcstol(text, &end, 10);
  if (errno != 0 || end == text || *end != 0 || v < minimum || v > maximum) return false;
  *value = v;
  return true;
}

// Returns -1 to go on, otherwise the exit code.
int ParseArguments(int argc, wchar_t** argv, Options* options)
{
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    auto value = [&](const wchar_t** out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    const wchar_t* v = nullptr;
    if (arg == L"--help" || arg == L"-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == L"--dir") {
      if (!value(&v) || !*v) return UsageError("--dir needs a directory");
      options->directory = v;
    } else if (arg == L"--channel") {
      if (!value(&v) || !*v) return UsageError("--channel needs a name");
      if (std::wcslen(v) >= kLogChannelNameUnits) return UsageError("--channel: the name is too long");
      options->channel = v;
    } else if (arg == L"--level") {
      long level = 0;
      if (!value(&v) || !ParseInt(v, 0, 3, &level)) return UsageError("--level needs a number from 0 to 3");
      options->level = int(level);
    } else if (arg == L"--suspend") {
      options->suspend = true;
    } else if (arg == L"--out") {
      if (!value(&v) || !*v) return UsageError("--out needs a file name");
      options->outFile = v;
    } else if (arg == L"--stop-event") {
      if (!value(&v) || !*v) return UsageError("--stop-event needs a name");
      options->stopEvent = v;
    } else if (arg == L"--run-for") {
      long seconds = 0;
      if (!value(&v) || !ParseInt(v, 1, 86400 * 365, &seconds))
        return UsageError("--run-for needs a whole number of seconds (at least 1)");
      options->runFor = double(seconds);
    } else if (arg == L"--stop") {
      if (!value(&v) || !*v) return UsageError("--stop needs the name given to the server's --stop-event");
      options->stopOther = v;
    } else if (arg == L"--quiet") {
      options->quiet = true;
    } else if (arg == L"--module") {
      if (!value(&v) || !*v) return UsageError("--module needs a file name");
      options->modules.push_back(v);
    } else if (arg == L"--list") {
      options->list = true;
    } else {
      return UsageError("unknown argument " + Narrow(arg));
    }
  }
  return -1;
}

void PrintTable(TLogServerTableHost& table)
{
  const auto entries = table.List();
  std::printf("%zu directory entr%s\n", entries.size(), entries.size() == 1 ? "y" : "ies");
  for (const TLogDirectoryRegistration& e : entries) {
    std::printf("%s -> channel %s\n", Narrow(FromU16(e.directory)).c_str(), Narrow(FromU16(e.channel)).c_str());
    for (const TLogModuleRegistration& m : e.modules)
      std::printf("  %4d %s\n", m.number, Narrow(FromU16(m.path)).c_str());
  }
}

// The record's text with every control character written as \xNN: a client's text
// stays on its own line and cannot move the cursor or forge another record's line.
std::string EscapedText(const std::string& text)
{
  std::string out;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      out += c;
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    }
  }
  return out;
}

std::string FormatLine(const TLogServerRecord& r)
{
  const char* kind = r.fields.kind == kLogRecordKindError  ? "ERROR"
                     : r.fields.kind == kLogRecordKindInfo ? "info"
                                                           : "?";
  char head[128];
  std::snprintf(head, sizeof head, "%10llu.%03llu %6lu %3lu %6lu %-5s ",
                static_cast<unsigned long long>(r.fields.time / 1000),
                static_cast<unsigned long long>(r.fields.time % 1000), static_cast<unsigned long>(r.fields.processId),
                static_cast<unsigned long>(r.fields.moduleNumber), static_cast<unsigned long>(r.fields.threadId), kind);
  return head + EscapedText(r.text) + "\n";
}

// Where the lines go: the console unless --quiet, and the --out file, which it owns.
struct Output {
  FILE* file = nullptr;
  bool console = true;
  Output() = default;
  ~Output()
  {
    if (file) std::fclose(file);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  void Write(const std::vector<TLogServerRecord>& records)
  {
    for (const TLogServerRecord& r : records) {
      const std::string line = FormatLine(r);
      if (console) std::fwrite(line.data(), 1, line.size(), stdout);
      if (file) std::fwrite(line.data(), 1, line.size(), file);
    }
    if (!records.empty()) {
      std::fflush(stdout);
      if (file) std::fflush(file);
    }
  }
};

// Commands from standard input; ends quietly when input ends. The reader may still be
// blocked on input when wmain returns, so it shares ownership of the channel.
void ReadCommands(std::shared_ptr<TLogChannelHost> channel)
{
  char line[256];
  while (std::fgets(line, sizeof line, stdin)) {
    int level = 0;
    char extra = 0;
    if (std::sscanf(line, " level %d %c", &level, &extra) == 1 && level >= 0 && level <= 3) {
      channel->SetLevel(uint8_t(level));
      std::fprintf(stderr, "pictor-logserver: level %d\n", level);
    } else if (std::strncmp(line, "suspend", 7) == 0) {
      channel->SetSuspended(true);
      std::fprintf(stderr, "pictor-logserver: writing suspended\n");
    } else if (std::strncmp(line, "resume", 6) == 0) {
      channel->SetSuspended(false);
      std::fprintf(stderr, "pictor-logserver: writing resumed\n");
    } else if (std::strncmp(line, "stop", 4) == 0) {
      SetEvent(g_StopEvent);
      return;
    } else if (line[0] != '\n') {
      std::fprintf(stderr, "pictor-logserver: commands are: level N (0-3), suspend, resume, stop\n");
    }
  }
}

// The directory's modules, only those named by --module when any are (numbered again
// from 1 in the directory's order).
std::vector<TLogModuleRegistration> SelectModules(const std::vector<TLogModuleRegistration>& all,
                                                  const std::vector<std::wstring>& names)
{
  if (names.empty()) return all;
  std::vector<TLogModuleRegistration> selected;
  for (const TLogModuleRegistration& m : all) {
    const std::wstring path = FromU16(m.path);
    const std::wstring file = path.substr(path.find_last_of(L"\\/") + 1);
    for (const std::wstring& name : names)
      if (_wcsicmp(file.c_str(), name.c_str()) == 0) selected.push_back({int32_t(selected.size() + 1), m.path});
  }
  return selected;
}

// --stop NAME: sets the stop event of the server started with --stop-event NAME.
int StopOtherServer(const std::wstring& name)
{
  TUniqueHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
  if (!event) {
    std::fprintf(stderr, "pictor-logserver: no running server with the stop event %s\n", Narrow(name).c_str());
    return 1;
  }
  SetEvent(event.Get());
  return 0;
}

// Completes the options of a serving run: the directory in its registered form, checked
// to exist, and the channel name. Returns -1 to go on, otherwise the exit code.
int CompleteOptions(Options* options)
{
  if (options->directory.empty()) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    options->directory = LogServerDirectoryOf(self);
  } else {
    // Registered with a trailing backslash, so that C:\App does not also catch C:\Apps.
    std::wstring dir = options->directory;
    if (dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
    options->directory = LogServerDirectoryOf(dir);
  }
  const DWORD attributes = GetFileAttributesW(options->directory.c_str());
  if (options->directory.empty() || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return UsageError("--dir: no such directory: " + Narrow(options->directory));
  if (options->directory.size() >= kLogDirectoryPathUnits) return UsageError("--dir: the path is too long");
  if (options->channel.empty()) options->channel = L"pictor-" + std::to_wstring(GetCurrentProcessId());
  if (options->quiet && options->outFile.empty()) return UsageError("--quiet needs --out FILE");
  return -1;
}

// False, with the error printed, when --out FILE cannot be opened for appending.
bool OpenOutput(const Options& options, Output* output)
{
  output->console = !options.quiet;
  if (options.outFile.empty()) return true;
  output->file = _wfopen(options.outFile.c_str(), L"ab");
  if (!output->file)
    std::fprintf(stderr, "pictor-logserver: cannot open %s for writing\n", Narrow(options.outFile).c_str());
  return output->file != nullptr;
}

// The events that end the run: Ctrl+C and "stop" set g_StopEvent, another process the
// one named by --stop-event. False, with the error printed, when that cannot be created.
bool CreateStopEvents(const Options& options, TUniqueHandle* externalStop)
{
  g_StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!options.stopEvent.empty()) {
    externalStop->Reset(CreateEventW(nullptr, TRUE, FALSE, options.stopEvent.c_str()));
    if (!*externalStop) {
      std::fprintf(stderr, "pictor-logserver: cannot create the stop event %s\n", Narrow(options.stopEvent).c_str());
      return false;
    }
  }
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  return true;
}

// The channel at the requested level and suspension; null, with the error printed, on failure.
std::shared_ptr<TLogChannelHost> CreateChannel(const Options& options)
{
  auto channel = std::make_shared<TLogChannelHost>();
  std::wstring error;
  if (!channel->Create(options.channel, uint8_t(options.level), &error)) {
    std::fprintf(stderr, "pictor-logserver: %s\n", Narrow(error).c_str());
    return nullptr;
  }
  channel->SetSuspended(options.suspend);
  return channel;
}

// Publishes the directory and its modules for the channel, and says so unless quiet.
bool RegisterDirectory(const Options& options, TLogServerTableHost& table)
{
  const std::vector<TLogModuleRegistration> modules =
      SelectModules(LogServerModulesIn(options.directory), options.modules);
  if (!table.Register({ToU16(options.directory), ToU16(options.channel), modules})) {
    std::fprintf(stderr, "pictor-logserver: the registration table has no room for another directory\n");
    return false;
  }
  if (!options.quiet) {
    std::fprintf(stderr, "pictor-logserver: listening on channel %s for %s (level %d, %zu modules)\n",
                 Narrow(options.channel).c_str(), Narrow(options.directory).c_str(), options.level, modules.size());
    for (const TLogModuleRegistration& m : modules)
      std::fprintf(stderr, "pictor-logserver:   module %d %s\n", m.number, Narrow(FromU16(m.path)).c_str());
  }
  std::fflush(stderr);
  return true;
}

// Prints what arrives until a stop event is set or --run-for has passed.
void Serve(const Options& options, TLogChannelHost& channel, HANDLE externalStop, Output& output)
{
  const ULONGLONG deadline = options.runFor > 0 ? GetTickCount64() + ULONGLONG(options.runFor * 1000) : 0;
  HANDLE waits[3] = {g_StopEvent, channel.ReadyEvent(), externalStop};
  const DWORD waitCount = externalStop ? 3 : 2;
  for (;;) {
    const DWORD result = WaitForMultipleObjects(waitCount, waits, FALSE, 200);
    output.Write(channel.Drain());
    if (result == WAIT_OBJECT_0 || result == WAIT_OBJECT_0 + 2) break;
    if (deadline && GetTickCount64() >= deadline) break;
  }
}

// Libraries stop finding this channel; what they wrote up to now is still printed.
void Finish(const Options& options, TLogServerTableHost& table, TLogChannelHost& channel, Output& output)
{
  table.Unregister(ToU16(options.channel));
  output.Write(channel.Drain());
  if (channel.MalformedCount() || channel.CorruptCount())
    std::fprintf(stderr, "pictor-logserver: %zu malformed records, %zu times the ring was unreadable\n",
                 channel.MalformedCount(), channel.CorruptCount());
  if (!options.quiet) std::fprintf(stderr, "pictor-logserver: stopped\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
  Options options;
  int exitCode = ParseArguments(argc, argv, &options);
  if (exitCode >= 0) return exitCode;
  if (!options.stopOther.empty()) return StopOtherServer(options.stopOther);

  TLogServerTableHost table;
  std::wstring error;
  if (!table.Open(&error)) {
    std::fprintf(stderr, "pictor-logserver: %s\n", Narrow(error).c_str());
    return 1;
  }
  if (options.list) {
    PrintTable(table);
    return 0;
  }

  exitCode = CompleteOptions(&options);
  if (exitCode >= 0) return exitCode;
  Output output;
  TUniqueHandle externalStop;
  if (!OpenOutput(options, &output) || !CreateStopEvents(options, &externalStop)) return 1;
  const std::shared_ptr<TLogChannelHost> channel = CreateChannel(options);
  if (!channel || !RegisterDirectory(options, table)) return 1;

  std::thread(ReadCommands, channel).detach();
  Serve(options, *channel, externalStop.Get(), output);
  Finish(options, table, *channel, output);
  return 0;
}
