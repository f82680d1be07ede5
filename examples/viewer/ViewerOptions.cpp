#include "ViewerOptions.h"

#include <cwchar>
#include <cwctype>

namespace {

bool Equal(const std::wstring& a, const wchar_t* b)
{
  if (a.size() != std::wcslen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  return true;
}

bool ParseFloat(const std::wstring& text, float lo, float hi, float* out)
{
  wchar_t* end = nullptr;
  const double value = std::wcstod(text.c_str(), &end);
  if (text.empty() || *end != L'\0' || !(value >= lo && value <= hi)) return false;
  *out = static_cast<float>(value);
  return true;
}

bool ParseInt(const std::wstring& text, int lo, int hi, int* out)
{
  wchar_t* end = nullptr;
  const long value = std::wcstol(text.c_str(), &end, 10);
  if (text.empty() || *end != L'\0' || value < lo || value > hi) return false;
  *out = static_cast<int>(value);
  return true;
}

bool ParseColor(const std::wstring& text, unsigned int* out)
{
  std::wstring hex = text;
  if (!hex.empty() && hex[0] == L'#') hex.erase(0, 1);
  wchar_t* end = nullptr;
  const unsigned long value = std::wcstoul(hex.c_str(), &end, 16);
  if (hex.size() != 6 || *end != L'\0') return false;
  *out = static_cast<unsigned int>(value);
  return true;
}

}  // namespace

const wchar_t* ViewerUsage()
{
  return L"usage: pictor-viewer [options]\n"
         L"\n"
         L"Shows a camera's live picture, keyed over a background, with its controls.\n"
         L"\n"
         L"  --camera C            list index, symbolic link or part of the name (default: the first)\n"
         L"  --format F            list index or WxH[@FPS][:SUBTYPE], e.g. 1280x720@30:NV12\n"
         L"  --conversion builtin|system\n"
         L"                        who converts frames: the library (lists MJPG too, the default)\n"
         L"                        or the Windows Color Converter\n"
         L"  --renderer software|d3d9\n"
         L"                        who composes the keyed picture (default: software)\n"
         L"  --keying off|green|blue|custom|person\n"
         L"                        person: the people kept, the room replaced (no screen needed)\n"
         L"  --key-colour RRGGBB|sample\n"
         L"                        the custom key colour, or the one sampled from the picture\n"
         L"  --sensitivity 0..1  --smoothing 0..1  --opacity 0..255\n"
         L"  --spill 0..1          spill suppression\n"
         L"  --choke 0..3          edge choke in pixels\n"
         L"  --background none|black|FILE\n"
         L"                        an image file (PNG, BMP, JPEG) scaled to cover the picture\n"
         L"  --no-reconnect        a lost camera ends the preview instead of being waited for\n"
         L"  --snapshot FILE       save composite N (--frames) as PNG, then exit\n"
         L"  --window-shot FILE    save a capture of the whole window after N composites, then exit\n"
         L"  --frames N            (default 30)\n"
         L"  --timeout S           give up on --snapshot/--window-shot after S seconds (default 30)\n"
         L"  --status-log FILE     write every change of the status line to FILE (- for standard output)\n"
         L"  --help\n"
         L"\n"
         L"Exit code: 0, 1 when a snapshot could not be taken or written, 2 for a bad command line.\n";
}

bool ParseViewerOptions(int argc, wchar_t** argv, TViewerOptions* options, std::wstring* error)
{
  TViewerOptions& o = *options;
  for (int i = 1; i < argc; ++i) {
    const std::wstring name = argv[i];
    if (Equal(name, L"--help") || Equal(name, L"-h") || Equal(name, L"/?")) {
      o.help = true;
      continue;
    }
    if (Equal(name, L"--no-reconnect")) {
      o.reconnect = false;
      continue;
    }
    if (i + 1 >= argc) {
      *error = name + (name.compare(0, 2, L"--") == 0 ? L" needs a value" : L": unknown option");
      return false;
    }
    const std::wstring value = argv[++i];
    bool ok = true;
    if (Equal(name, L"--camera")) {
      o.camera = value;
    } else if (Equal(name, L"--format")) {
      o.format = value;
    } else if (Equal(name, L"--conversion")) {
      ok = Equal(value, L"builtin") || Equal(value, L"system");
      o.builtInConversion = Equal(value, L"builtin");
    } else if (Equal(name, L"--renderer")) {
      ok = Equal(value, L"software") || Equal(value, L"d3d9");
      o.direct3D = Equal(value, L"d3d9");
    } else if (Equal(name, L"--keying")) {
      const wchar_t* names[] = {L"off", L"green", L"blue", L"custom", L"person"};
      ok = false;
      for (int k = 0; k < 5; ++k)
        if (Equal(value, names[k])) o.keying = static_cast<TKeyChoice>(k), ok = true;
    } else if (Equal(name, L"--key-colour") || Equal(name, L"--key-color")) {
      // A sampled colour keys from the first frame that shows a screen; nothing before.
      o.sampleKeyColor = Equal(value, L"sample");
      ok = o.sampleKeyColor || ParseColor(value, &o.keyColor);
      o.keying = o.sampleKeyColor ? TKeyChoice::Off : TKeyChoice::Custom;
    } else if (Equal(name, L"--sensitivity")) {
      ok = ParseFloat(value, 0.0f, 1.0f, &o.sensitivity);
    } else if (Equal(name, L"--smoothing")) {
      ok = ParseFloat(value, 0.0f, 1.0f, &o.smoothing);
    } else if (Equal(name, L"--opacity")) {
      ok = ParseInt(value, 0, 255, &o.opacity);
    } else if (Equal(name, L"--spill")) {
      ok = ParseFloat(value, 0.0f, 1.0f, &o.spill);
    } else if (Equal(name, L"--choke")) {
      ok = ParseInt(value, 0, 3, &o.choke);
    } else if (Equal(name, L"--background")) {
      o.background = Equal(value, L"none")    ? TBackgroundChoice::None
                     : Equal(value, L"black") ? TBackgroundChoice::Black
                                              : TBackgroundChoice::Image;
      if (o.background == TBackgroundChoice::Image) o.backgroundFile = value;
    } else if (Equal(name, L"--snapshot")) {
      o.snapshotFile = value;
    } else if (Equal(name, L"--window-shot")) {
      o.windowShotFile = value;
    } else if (Equal(name, L"--frames")) {
      ok = ParseInt(value, 1, 1000000, &o.frames);
    } else if (Equal(name, L"--timeout")) {
      ok = ParseInt(value, 1, 86400, &o.timeoutSeconds);
    } else if (Equal(name, L"--status-log")) {
      o.statusLogFile = value;
    } else {
      *error = name + L": unknown option";
      return false;
    }
    if (!ok) {
      *error = name + L": bad value " + value;
      return false;
    }
  }
  return true;
}
