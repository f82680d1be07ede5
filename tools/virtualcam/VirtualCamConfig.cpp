#include "tools/virtualcam/VirtualCamConfig.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

namespace virtualcam {
namespace {

// clang-format off
const char* const kControlNames[kControlCount] = {
    "Brightness", "Contrast", "Hue", "Saturation", "Sharpness", "Gamma", "ColorEnable",
    "WhiteBalance", "BacklightCompensation", "Gain",
    "Pan", "Tilt", "Roll", "Zoom", "Exposure", "Iris", "Focus"};
// clang-format on

struct Token {
  std::string key;
  std::string value;
};

// Splits one line into key=value tokens. A value in double quotes may hold spaces and
// the escapes \" and \\ (any other backslash is kept as it is); an unquoted value runs
// to the next blank. '#' at the start of a token starts a comment.
bool Tokenize(const std::string& line, std::string* directive, std::vector<Token>* tokens, std::string* error)
{
  size_t i = 0;
  const size_t n = line.size();
  auto skipBlanks = [&] {
    while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
  };
  directive->clear();
  tokens->clear();
  skipBlanks();
  if (i >= n || line[i] == '#') return true;
  while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') directive->push_back(line[i++]);
  for (;;) {
    skipBlanks();
    if (i >= n || line[i] == '#') return true;
    Token t;
    while (i < n && line[i] != '=' && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') t.key.push_back(line[i++]);
    if (i >= n || line[i] != '=') {
      *error = "expected key=value after '" + t.key + "'";
      return false;
    }
    ++i;  // '='
    if (i < n && line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < n) {
        char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\' && i < n && (line[i] == '"' || line[i] == '\\')) c = line[i++];
        t.value.push_back(c);
      }
      if (!closed) {
        *error = "unterminated quoted value of '" + t.key + "'";
        return false;
      }
      if (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
        *error = "blank expected after the quoted value of '" + t.key + "'";
        return false;
      }
    } else {
      while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') t.value.push_back(line[i++]);
    }
    tokens->push_back(std::move(t));
  }
}

bool ParseInt64(const std::string& s, int64_t* out)
{
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
  long long v = hex ? static_cast<long long>(std::strtoull(s.c_str(), &end, 16)) : std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0') return false;
  *out = v;
  return true;
}

bool ParseInt32(const std::string& s, int32_t* out)
{
  int64_t v = 0;
  if (!ParseInt64(s, &v)) return false;
  // Hexadecimal HRESULTs such as 0x80004005 are taken as their 32-bit pattern.
  if (v < INT32_MIN || v > static_cast<int64_t>(UINT32_MAX)) return false;
  *out = static_cast<int32_t>(static_cast<uint32_t>(v));
  return true;
}

bool ParseUInt32(const std::string& s, uint32_t* out)
{
  int64_t v = 0;
  if (!ParseInt64(s, &v) || v < 0 || v > static_cast<int64_t>(UINT32_MAX)) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

bool ParsePair(const std::string& s, char sep, uint32_t* a, uint32_t* b)
{
  const size_t p = s.find(sep);
  if (p == std::string::npos) return false;
  return ParseUInt32(s.substr(0, p), a) && ParseUInt32(s.substr(p + 1), b);
}

bool ParseRatio(const std::string& s, Ratio* r)
{
  return ParsePair(s, '/', &r->num, &r->den) && r->den != 0;
}

bool ParseBool(const std::string& s, bool* out)
{
  if (s == "0")
    *out = false;
  else if (s == "1")
    *out = true;
  else
    return false;
  return true;
}

int HexDigit(char c)
{
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// RRGGBB, six hexadecimal digits.
bool ParseHexColour(const std::string& s, Rgb* out)
{
  if (s.size() != 6) return false;
  uint8_t rgb[3];
  for (int k = 0; k < 3; ++k) {
    const int hi = HexDigit(s[2 * k]), lo = HexDigit(s[2 * k + 1]);
    if (hi < 0 || lo < 0) return false;
    rgb[k] = static_cast<uint8_t>(hi * 16 + lo);
  }
  *out = Rgb{rgb[0], rgb[1], rgb[2]};
  return true;
}

bool ParsePattern(const std::string& s, Pattern* p, std::string* error)
{
  if (s == "bars")
    p->kind = PatternKind::Bars;
  else if (s == "greenscreen")
    p->kind = PatternKind::GreenScreen;
  else if (s == "marker")
    p->kind = PatternKind::Marker;
  else if (s.rfind("solid:", 0) == 0) {
    Rgb c;
    if (!ParseHexColour(s.substr(6), &c)) return false;
    p->kind = PatternKind::Solid;
    p->r = c.r;
    p->g = c.g;
    p->b = c.b;
  } else if (s.rfind("picture:", 0) == 0) {
    if (!LoadPicture(s.substr(8), &p->picture, error)) return false;
    p->kind = PatternKind::Picture;
  } else {
    return false;
  }
  return true;
}

bool ParseSubtype(const std::string& s, Subtype* out)
{
  static const std::pair<const char*, Subtype> kNames[] = {{"YUY2", Subtype::YUY2},     {"NV12", Subtype::NV12},
                                                           {"I420", Subtype::I420},     {"RGB32", Subtype::RGB32},
                                                           {"ARGB32", Subtype::ARGB32}, {"MJPG", Subtype::MJPG}};
  for (const auto& n : kNames) {
    if (s == n.first) {
      *out = n.second;
      return true;
    }
  }
  return false;
}

bool ParseOmit(const std::string& s, uint32_t* out, std::string* bad)
{
  static const std::pair<const char*, uint32_t> kNames[] = {
      {"MF_MT_AM_FORMAT_TYPE", kOmitAmFormatType},
      {"MF_MT_DEFAULT_STRIDE", kOmitDefaultStride},
      {"MF_MT_FRAME_RATE", kOmitFrameRate},
      {"MF_MT_FRAME_RATE_RANGE", kOmitFrameRateRange},
      {"MF_MT_PIXEL_ASPECT_RATIO", kOmitPixelAspectRatio},
      {"MF_MT_INTERLACE_MODE", kOmitInterlaceMode},
      {"MF_MT_ALL_SAMPLES_INDEPENDENT", kOmitAllSamplesIndependent},
      {"MF_MT_FIXED_SIZE_SAMPLES", kOmitFixedSizeSamples},
      {"MF_MT_SAMPLE_SIZE", kOmitSampleSize},
      {"MF_MT_AVG_BITRATE", kOmitAvgBitrate},
      {"MF_MT_YUV_MATRIX", kOmitYuvMatrix},
      {"MF_MT_VIDEO_NOMINAL_RANGE", kOmitNominalRange},
      {"MF_MT_FRAME_SIZE", kOmitFrameSize}};
  size_t start = 0;
  while (start <= s.size()) {
    size_t comma = s.find(',', start);
    if (comma == std::string::npos) comma = s.size();
    const std::string name = s.substr(start, comma - start);
    bool found = false;
    for (const auto& n : kNames) {
      if (name == n.first) {
        *out |= n.second;
        found = true;
      }
    }
    if (!found) {
      *bad = name;
      return false;
    }
    start = comma + 1;
  }
  return true;
}

// Fills setup from the camera line's tokens; returns an error text or "".
std::string ApplyCameraTokens(const std::vector<Token>& tokens, CameraSetup* cam)
{
  bool haveLink = false;
  for (const Token& t : tokens) {
    bool ok = true;
    int64_t n = 0;
    std::string detail;
    if (t.key == "name")
      cam->name = t.value;
    else if (t.key == "link") {
      cam->link = t.value;
      haveLink = true;
    } else if (t.key == "pattern")
      ok = ParsePattern(t.value, &cam->pattern, &detail);
    else if (t.key == "noise") {
      ok = ParseInt64(t.value, &n) && n >= 0 && n <= 64;
      cam->pattern.noise = static_cast<uint8_t>(n);
    } else if (t.key == "screen")
      ok = ParseHexColour(t.value, &cam->pattern.screen);
    else if (t.key == "uneven") {
      ok = ParseInt64(t.value, &n) && n >= 0 && n <= 127;
      cam->pattern.uneven = static_cast<uint8_t>(n);
    } else if (t.key == "spill") {
      ok = ParseInt64(t.value, &n) && n >= 0 && n <= 100;
      cam->pattern.spill = static_cast<uint8_t>(n);
    } else if (t.key == "spill-width") {
      ok = ParseInt64(t.value, &n) && n >= 1 && n <= 64;
      cam->pattern.spillWidth = static_cast<uint8_t>(n);
    } else if (t.key == "soft-edge")
      ok = ParseBool(t.value, &cam->pattern.softEdge);
    else if (t.key == "name-error")
      ok = ParseInt32(t.value, &cam->nameError) && cam->nameError != 0;
    else if (t.key == "link-error")
      ok = ParseInt32(t.value, &cam->linkError) && cam->linkError != 0;
    else if (t.key == "type-error-at") {
      ok = ParseInt64(t.value, &n) && n >= 0 && n <= INT32_MAX;
      cam->typeErrorAt = static_cast<int32_t>(n);
    } else if (t.key == "stream-error-after")
      ok = ParseInt64(t.value, &cam->streamErrorAfter) && cam->streamErrorAfter >= 0;
    else if (t.key == "error-flag-after")
      ok = ParseInt64(t.value, &cam->errorFlagAfter) && cam->errorFlagAfter >= 0;
    else if (t.key == "end-of-stream-after")
      ok = ParseInt64(t.value, &cam->endOfStreamAfter) && cam->endOfStreamAfter >= 0;
    else if (t.key == "stall-after")
      ok = ParseInt64(t.value, &cam->stallAfter) && cam->stallAfter >= 0;
    else if (t.key == "short-frames")
      ok = ParseBool(t.value, &cam->shortFrames);
    else if (t.key == "truncate-frame")
      ok = ParseInt64(t.value, &cam->truncateFrame) && cam->truncateFrame >= 0;
    else if (t.key == "timing") {
      if (t.value == "full")
        cam->timing = SampleTiming::Full;
      else if (t.value == "no-duration")
        cam->timing = SampleTiming::NoDuration;
      else if (t.value == "none")
        cam->timing = SampleTiming::None;
      else
        ok = false;
    } else if (t.key == "camera-control")
      ok = ParseBool(t.value, &cam->cameraControl);
    else if (t.key == "video-proc-amp")
      ok = ParseBool(t.value, &cam->videoProcAmp);
    else if (t.key == "paced")
      ok = ParseBool(t.value, &cam->paced);
    else if (t.key == "busy")
      ok = ParseBool(t.value, &cam->busy);
    else if (t.key == "access-denied")
      ok = ParseBool(t.value, &cam->accessDenied);
    else if (t.key == "device-timestamps")
      ok = ParseBool(t.value, &cam->deviceTimestamps);
    else if (t.key == "shutdown-delay") {
      int64_t ms = 0;
      ok = ParseInt64(t.value, &ms) && ms >= 0 && ms <= 600000;
      cam->shutdownDelayMs = static_cast<int32_t>(ms);
    } else if (t.key == "unplug-after")
      ok = ParseInt64(t.value, &cam->unplugAfter) && cam->unplugAfter >= 1;
    else if (t.key == "replug-after") {
      int64_t ms = 0;
      ok = ParseInt64(t.value, &ms) && ms >= 0 && ms <= 600000;
      cam->replugAfterMs = static_cast<int32_t>(ms);
    } else
      return "unknown camera key '" + t.key + "'";
    if (!ok) return "bad value '" + t.value + "' for '" + t.key + "'" + (detail.empty() ? "" : ": " + detail);
  }
  if (!haveLink || cam->link.empty()) return "camera without link=";
  return "";
}

std::string ApplyFormatTokens(const std::vector<Token>& tokens, FormatSetup* f)
{
  bool haveSubtype = false, haveSize = false, haveTables = false;
  for (const Token& t : tokens) {
    bool ok = true;
    std::string bad;
    if (t.key == "subtype")
      ok = haveSubtype = ParseSubtype(t.value, &f->subtype);
    else if (t.key == "size")
      ok = haveSize = ParsePair(t.value, 'x', &f->width, &f->height) && f->width > 0 && f->height > 0 &&
                      f->width <= 16384 && f->height <= 16384;
    else if (t.key == "rate")
      ok = ParseRatio(t.value, &f->rate) && f->rate.num != 0;
    else if (t.key == "rate-min")
      ok = ParseRatio(t.value, &f->rateMin);
    else if (t.key == "rate-max")
      ok = ParseRatio(t.value, &f->rateMax);
    else if (t.key == "aspect")
      ok = ParseRatio(t.value, &f->aspect);
    else if (t.key == "stride")
      ok = f->hasStride = ParseInt32(t.value, &f->stride);
    else if (t.key == "bitrate")
      ok = ParseUInt32(t.value, &f->bitrate);
    else if (t.key == "huffman-tables")
      ok = haveTables = ParseBool(t.value, &f->huffmanTables);
    else if (t.key == "omit") {
      if (!ParseOmit(t.value, &f->omit, &bad)) return "unknown attribute '" + bad + "' in omit=";
    } else {
      return "unknown format key '" + t.key + "'";
    }
    if (!ok) return "bad value '" + t.value + "' for '" + t.key + "'";
  }
  if (!haveSubtype) return "format without subtype=";
  if (!haveSize) return "format without size=";
  if (haveTables && f->subtype != Subtype::MJPG) return "huffman-tables= is for MJPG formats only";
  // Planar 4:2:0 and packed 4:2:2 need even sizes.
  if ((f->subtype != Subtype::RGB32 && f->subtype != Subtype::ARGB32 && f->subtype != Subtype::MJPG) &&
      (f->width % 2 != 0 || f->height % 2 != 0))
    return "YUV formats need an even width and height";
  return "";
}

std::string ApplyControlTokens(const std::vector<Token>& tokens, CameraSetup* cam)
{
  int index = -1;
  ControlSetup c;
  c.configured = true;
  bool haveMin = false, haveMax = false, haveDefault = false, haveValue = false, haveStep = false;
  for (const Token& t : tokens) {
    bool ok = true;
    if (t.key == "property") {
      index = ControlIndexFromName(t.value);
      ok = index >= 0;
    } else if (t.key == "min")
      ok = haveMin = ParseInt32(t.value, &c.min);
    else if (t.key == "max")
      ok = haveMax = ParseInt32(t.value, &c.max);
    else if (t.key == "step")
      ok = haveStep = ParseInt32(t.value, &c.step) && c.step > 0;
    else if (t.key == "default")
      ok = haveDefault = ParseInt32(t.value, &c.defaultValue);
    else if (t.key == "value")
      ok = haveValue = ParseInt32(t.value, &c.value);
    else if (t.key == "flags")
      ok = ParseInt32(t.value, &c.flags) && (c.flags == 1 || c.flags == 2);
    else if (t.key == "auto")
      ok = ParseBool(t.value, &c.autoSupported);
    else
      return "unknown control key '" + t.key + "'";
    if (!ok) return "bad value '" + t.value + "' for '" + t.key + "'";
  }
  (void)haveStep;
  if (index < 0) return "control without property=";
  if (!haveMin || !haveMax || !haveDefault) return "control needs min=, max= and default=";
  if (c.min > c.max) return "control min is above max";
  if (!haveValue) c.value = c.defaultValue;
  if (c.flags == 1 && !c.autoSupported) return "flags=1 on a control with auto=0";
  cam->controls[index] = c;
  return "";
}

}  // namespace

int ControlIndexFromName(const std::string& name)
{
  for (int i = 0; i < kControlCount; ++i) {
    if (name == kControlNames[i]) return i;
  }
  return -1;
}

const char* ControlName(int index)
{
  return index >= 0 && index < kControlCount ? kControlNames[index] : "";
}

ParseResult ParseConfig(const std::string& text)
{
  ParseResult result;
  std::map<std::string, int> links;
  int lineNo = 0;
  size_t pos = 0;
  auto fail = [&](const std::string& message) {
    result.errorLine = lineNo;
    result.error = message;
    result.cameras.clear();
    return result;
  };
  while (pos <= text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    const std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    ++lineNo;
    std::string directive, error;
    std::vector<Token> tokens;
    if (!Tokenize(line, &directive, &tokens, &error)) return fail(error);
    if (directive.empty()) {
      if (eol == text.size()) break;
      continue;
    }
    if (directive == "camera") {
      CameraSetup cam;
      error = ApplyCameraTokens(tokens, &cam);
      if (!error.empty()) return fail(error);
      if (links.count(cam.link)) return fail("second camera with link '" + cam.link + "'");
      links[cam.link] = 1;
      result.cameras.push_back(std::move(cam));
    } else if (directive == "format") {
      if (result.cameras.empty()) return fail("format before the first camera");
      FormatSetup f;
      error = ApplyFormatTokens(tokens, &f);
      if (!error.empty()) return fail(error);
      result.cameras.back().formats.push_back(f);
    } else if (directive == "control") {
      if (result.cameras.empty()) return fail("control before the first camera");
      error = ApplyControlTokens(tokens, &result.cameras.back());
      if (!error.empty()) return fail(error);
    } else {
      return fail("unknown directive '" + directive + "'");
    }
    if (eol == text.size()) break;
  }
  return result;
}

const char* DefaultConfigText()
{
  return R"(# Default cameras of the virtual camera.
camera name="Pictor Virtual Camera" link=\\?\virtualcam#pictor-bars pattern=bars device-timestamps=1
format subtype=YUY2 size=640x480 rate=30/1
format subtype=NV12 size=640x480 rate=30/1
format subtype=I420 size=640x480 rate=30/1
format subtype=RGB32 size=640x480 rate=30/1
format subtype=YUY2 size=1280x720 rate=30/1
format subtype=NV12 size=1280x720 rate=30/1
format subtype=MJPG size=1280x720 rate=30/1
format subtype=MJPG size=1920x1080 rate=30/1
control property=Brightness min=-64 max=64 step=1 default=0 auto=0
control property=Contrast min=0 max=100 step=1 default=50 auto=0
control property=Hue min=-180 max=180 step=1 default=0 auto=0
control property=Saturation min=0 max=100 step=1 default=64 auto=0
control property=Sharpness min=0 max=7 step=1 default=3 auto=0
control property=Gamma min=72 max=500 step=1 default=100 auto=0
control property=ColorEnable min=0 max=1 step=1 default=1 auto=0
control property=WhiteBalance min=2800 max=6500 step=10 default=4600 flags=1
control property=BacklightCompensation min=0 max=2 step=1 default=1 auto=0
control property=Gain min=0 max=255 step=1 default=32
control property=Pan min=-180 max=180 step=1 default=0 auto=0
control property=Tilt min=-180 max=180 step=1 default=0 auto=0
control property=Roll min=-180 max=180 step=1 default=0 auto=0
control property=Zoom min=100 max=500 step=10 default=100 auto=0
control property=Exposure min=-11 max=-2 step=1 default=-6 flags=1
control property=Iris min=0 max=10 step=1 default=5
control property=Focus min=0 max=255 step=5 default=125 flags=1
camera name="Pictor Green Screen" link=\\?\virtualcam#pictor-greenscreen pattern=greenscreen camera-control=0
format subtype=YUY2 size=640x480 rate=30/1
format subtype=NV12 size=640x480 rate=30/1
format subtype=I420 size=640x480 rate=30/1
format subtype=RGB32 size=640x480 rate=30/1
format subtype=YUY2 size=1280x720 rate=30/1
format subtype=NV12 size=1280x720 rate=30/1
control property=Brightness min=-64 max=64 step=1 default=0 auto=0
control property=Contrast min=0 max=100 step=1 default=50 auto=0
control property=Saturation min=0 max=100 step=1 default=64 auto=0
control property=WhiteBalance min=2800 max=6500 step=10 default=4600 flags=1
control property=Gain min=0 max=255 step=1 default=32
)";
}

uint32_t FrameBytes(Subtype subtype, uint32_t width, uint32_t height)
{
  switch (subtype) {
    case Subtype::YUY2:
      return width * height * 2;
    case Subtype::NV12:
    case Subtype::I420:
      return width * height * 3 / 2;
    case Subtype::RGB32:
    case Subtype::ARGB32:
      return width * height * 4;
    case Subtype::MJPG:
      return width * height * 2;
  }
  return 0;
}

int32_t NaturalStride(Subtype subtype, uint32_t width)
{
  switch (subtype) {
    case Subtype::YUY2:
      return static_cast<int32_t>(width * 2);
    case Subtype::NV12:
    case Subtype::I420:
      return static_cast<int32_t>(width);
    case Subtype::RGB32:
      return static_cast<int32_t>(width * 4);
    case Subtype::ARGB32:
      return -static_cast<int32_t>(width * 4);
    case Subtype::MJPG:
      return 0;
  }
  return 0;
}

const char* SubtypeName(Subtype subtype)
{
  switch (subtype) {
    case Subtype::YUY2:
      return "YUY2";
    case Subtype::NV12:
      return "NV12";
    case Subtype::I420:
      return "I420";
    case Subtype::RGB32:
      return "RGB32";
    case Subtype::ARGB32:
      return "ARGB32";
    case Subtype::MJPG:
      return "MJPG";
  }
  return "";
}

}  // namespace virtualcam
