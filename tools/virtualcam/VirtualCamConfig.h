// The virtual camera's configuration: the set of cameras it presents, their native
// formats, controls and injected faults, and the parser of the configuration text
// (grammar in VirtualCamControl.h and README.md). Portable: no windows.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace virtualcam {

enum class Subtype { YUY2, NV12, I420, RGB32, ARGB32, MJPG };

enum class PatternKind { Bars, GreenScreen, Marker, Solid, Picture };

struct Rgb {
  uint8_t r, g, b;
};

// A decoded picture file: packed RGB, top row first.
struct PictureData {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

// Reads a PNG file (UTF-8 path) into packed RGB; an alpha channel is dropped. False, with
// a message in `error`, when it cannot be read or decoded.
bool LoadPicture(const std::string& path, std::shared_ptr<const PictureData>* picture, std::string* error);

struct Pattern {
  PatternKind kind = PatternKind::Bars;
  uint8_t r = 0, g = 0, b = 0;                 // Solid only
  std::shared_ptr<const PictureData> picture;  // Picture only
  uint8_t noise = 0;                           // fixed grain of up to +-noise levels per channel; 0 = exact colours
  // GreenScreen only: the flaws of a real screen, each off by default.
  Rgb screen = {0, 255, 0};  // the screen's colour
  uint8_t uneven = 0;        // brightness gradient of -uneven..+uneven levels, top left to bottom right
  uint8_t spill = 0;         // percent the subject is mixed towards the screen near its outline
  uint8_t spillWidth = 6;    // how far inside the outline the spill reaches, in pixels
  bool softEdge = false;     // an anti-aliased outline instead of a hard one
};

// Media type attributes that a format line may leave out (omit=...).
enum OmitBits : uint32_t {
  kOmitAmFormatType = 1u << 0,
  kOmitDefaultStride = 1u << 1,
  kOmitFrameRate = 1u << 2,
  kOmitFrameRateRange = 1u << 3,  // both MF_MT_FRAME_RATE_RANGE_MIN and _MAX
  kOmitPixelAspectRatio = 1u << 4,
  kOmitInterlaceMode = 1u << 5,
  kOmitAllSamplesIndependent = 1u << 6,
  kOmitFixedSizeSamples = 1u << 7,
  kOmitSampleSize = 1u << 8,
  kOmitAvgBitrate = 1u << 9,
  kOmitYuvMatrix = 1u << 10,
  kOmitNominalRange = 1u << 11,
  kOmitFrameSize = 1u << 12,
};

struct Ratio {
  uint32_t num = 0, den = 0;
};

struct FormatSetup {
  Subtype subtype = Subtype::YUY2;
  uint32_t width = 0, height = 0;
  Ratio rate{30, 1};
  Ratio rateMin{0, 0};  // 0/0: same as rate
  Ratio rateMax{0, 0};
  Ratio aspect{1, 1};
  bool hasStride = false;
  int32_t stride = 0;         // only when hasStride; otherwise the subtype's natural stride
  uint32_t bitrate = 0;       // 0: width x height x bits per pixel x rate
  uint32_t omit = 0;          // OmitBits
  bool huffmanTables = true;  // MJPG only: false leaves the DHT segment out of every frame
};

// Control properties, in the order of the two DirectShow enumerations: the ten
// VideoProcAmp properties (Brightness = 0 ... Gain = 9), then the seven CameraControl
// properties (Pan = 0 ... Focus = 6).
constexpr int kVideoProcAmpCount = 10;
constexpr int kCameraControlCount = 7;
constexpr int kControlCount = kVideoProcAmpCount + kCameraControlCount;

// Index 0..16 in the order above, or -1.
int ControlIndexFromName(const std::string& name);
const char* ControlName(int index);

struct ControlSetup {
  bool configured = false;
  int32_t min = 0, max = 0, step = 1, defaultValue = 0;
  int32_t value = 0;          // current value at the start (default: defaultValue)
  int32_t flags = 2;          // current mode: 1 automatic, 2 manual
  bool autoSupported = true;  // the capability flags include automatic mode
};

// What a frame's sample carries of its time: both stamps, no duration, or neither.
enum class SampleTiming { Full, NoDuration, None };

struct CameraSetup {
  std::string name;  // UTF-8
  std::string link;  // UTF-8
  Pattern pattern;
  int32_t nameError = 0;          // HRESULT returned when the friendly name is read; 0 = none
  int32_t linkError = 0;          // same for the symbolic link
  int32_t typeErrorAt = -1;       // native type index that fails, with every later one
  int64_t streamErrorAfter = -1;  // frames before the stream reports an error
  int64_t errorFlagAfter = -1;    // frames before sample requests are refused
  int64_t endOfStreamAfter = -1;  // frames before the stream ends (MEEndOfStream)
  int64_t stallAfter = -1;        // frames before requests are accepted and never answered
  bool shortFrames = false;       // every frame's buffer reports one row less than a frame
  int64_t truncateFrame = -1;     // this frame (0 = the first after a start) comes cut to half
  SampleTiming timing = SampleTiming::Full;
  bool cameraControl = true;
  bool videoProcAmp = true;
  bool paced = true;              // frames at the configured rate; false: as fast as requested
  bool busy = false;              // in use by another application: the first sample request fails
  bool accessDenied = false;      // blocked by the privacy settings: activation fails with E_ACCESSDENIED
  bool deviceTimestamps = false;  // samples carry MFSampleExtension_DeviceTimestamp
  int32_t shutdownDelayMs = 0;    // the source's Shutdown takes this long (a driver slow to close)
  int64_t unplugAfter = -1;       // frames delivered in all before the camera unplugs itself
  int32_t replugAfterMs = -1;     // then it is back after this long (-1: stays unplugged)
  std::vector<FormatSetup> formats;
  ControlSetup controls[kControlCount];
};

struct ParseResult {
  int errorLine = 0;  // 0: success, else the 1-based line of the first error
  std::string error;
  std::vector<CameraSetup> cameras;
};

ParseResult ParseConfig(const std::string& text);

// The configuration used when none was given.
const char* DefaultConfigText();

// Bytes of one frame of this format (MJPG: the most a frame may take, 2 bytes per
// pixel, which the type's bit rate is reckoned from; its frames are far shorter).
uint32_t FrameBytes(Subtype subtype, uint32_t width, uint32_t height);
// Natural stride in bytes of the first plane (negative for ARGB32: bottom-up rows).
int32_t NaturalStride(Subtype subtype, uint32_t width);
const char* SubtypeName(Subtype subtype);

}  // namespace virtualcam
