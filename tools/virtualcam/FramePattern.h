// Test pictures of the virtual camera and their encoding into the camera subtypes.
// Portable: no windows.h.
//
// Pictures (RGB, 8 bits per channel; exact values so tests can check colours):
//  - bars: 8 vertical bars of equal width (bar i covers columns [i*w/8, (i+1)*w/8)),
//    left to right kBarColours: white, yellow, cyan, green, magenta, red, blue, black.
//  - greenscreen: the screen colour (key green kKeyGreen unless the camera says screen=)
//    everywhere except a disc of kSubjectColour with radius h/6 centred at row h/2 and
//    column SubjectCentreX(w, h, frame); the disc moves 8 pixels to the right per frame
//    and wraps around. A real screen's flaws on request: uneven lighting, spill on the
//    subject's outline, an anti-aliased outline (Pattern).
//  - marker: rows [0, h/2) kMarkerTop (red), rows [h/2, h) kMarkerBottom (blue).
//  - solid:RRGGBB: one colour.
//  - picture:FILE: a PNG scaled to fit the frame with its aspect ratio kept (bilinear),
//    centred on black.
// A camera's noise=A adds a fixed grain of up to +-A levels to every channel (the same
// in every frame), which gives MJPG frames a webcam's size; the colours are then not exact.
// YUV subtypes use BT.601 limited range (Y 16..235); chroma of a 2x1 (YUY2) or 2x2
// (NV12, I420) block is the mean of the block's chroma. A colour converted back to RGB
// by the Color Converter DSP comes within 3 levels of the values above on Windows and
// within 6 on Wine 8.0 (its converter darkens saturated yellow, cyan and green by 4 to
// 6 levels), away from bar and disc edges, where chroma is shared between neighbours.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/virtualcam/VirtualCamConfig.h"

namespace virtualcam {

constexpr Rgb kBarColours[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
constexpr Rgb kKeyGreen = {0, 255, 0};
constexpr Rgb kSubjectColour = {230, 90, 40};
constexpr Rgb kMarkerTop = {255, 0, 0};
constexpr Rgb kMarkerBottom = {0, 0, 255};

uint32_t SubjectCentreX(uint32_t width, uint32_t height, uint64_t frame);

// A rectangle of a picture: columns [x, x + width), rows [y, y + height).
struct Region {
  uint32_t x = 0, y = 0, width = 0, height = 0;
};

// Renders frame number `frame` of the pattern as packed RGB triplets, top row first.
// `grain` numbers the noise: 0 is the camera's grain, every other number another fixed
// grain of three quarters of its amplitude.
void RenderRgb(const Pattern& pattern, uint32_t width, uint32_t height, uint64_t frame, std::vector<uint8_t>* rgb,
               uint32_t grain = 0);

// Renders the pixels of `region` (packed RGB, region.width x region.height, top row
// first), each exactly as RenderRgb renders it in the whole picture. Without `subject`
// the green screen is rendered empty.
void RenderRgbRegion(const Pattern& pattern, uint32_t width, uint32_t height, uint64_t frame, Region region,
                     std::vector<uint8_t>* rgb, uint32_t grain = 0, bool subject = true);

// How many different pictures the pattern shows in turn at this width: frame k shows
// the same picture as frame k mod the count (1 for the still patterns).
uint64_t PictureCount(const Pattern& pattern, uint32_t width);

// Encodes a packed RGB picture into `out` (FrameBytes(subtype, width, height) bytes):
// YUY2, NV12, I420 as tightly packed planes; RGB32 and ARGB32 as B, G, R, 255 with
// rows top-down, or bottom-up when `bottomUp`. Not for MJPG (EncodeJpeg).
void EncodeFrame(Subtype subtype, uint32_t width, uint32_t height, bool bottomUp, const uint8_t* rgb, uint8_t* out);

// EncodeFrame for one region of the frame: `rgb` holds the region's pixels
// (RenderRgbRegion) and only the region's bytes of `out` are written. The region's
// edges lie on the chroma blocks: x and width even for YUY2, NV12 and I420, y and
// height even for NV12 and I420.
void EncodeRegion(Subtype subtype, uint32_t width, uint32_t height, bool bottomUp, Region region, const uint8_t* rgb,
                  uint8_t* out);

// The boxes outside which green-screen frame `frame` is the empty screen: one, or two
// where the disc wraps round the right edge; on 2x2 block bounds. Returns how many.
int SubjectBoxes(uint32_t width, uint32_t height, uint64_t frame, Region boxes[2]);

// Makes the frames of one camera format (not MJPG) at the cost of about one copy, so
// an unpaced camera keeps up at 3840x2160: a still picture is rendered and encoded once
// and copied; for the green screen the empty screen is encoded once, and each frame is
// a copy of it with the subject's boxes drawn over it.
class FrameMaker {
 public:
  // Writes frame `frame` (FrameBytes(subtype, width, height) bytes) into `out`. The
  // pattern must stay in place while it is in use.
  void Fill(const Pattern& pattern, Subtype subtype, uint32_t width, uint32_t height, bool bottomUp, uint64_t frame,
            uint8_t* out);

 private:
  const Pattern* pattern_ = nullptr;  // what base_ was made for
  Subtype subtype_ = Subtype::MJPG;
  uint32_t width_ = 0, height_ = 0;
  bool bottomUp_ = false;
  std::vector<uint8_t> base_;  // the still picture or the empty screen, encoded
  std::vector<uint8_t> rgb_;
};

// Encodes a packed RGB picture (top row first) as one MJPG frame: a baseline JFIF
// JPEG, 4:2:0, quality 90, with the standard Huffman tables. Without `huffmanTables`
// the DHT segment is left out, as many webcams send their frames; a decoder then has
// to load the standard tables itself. False if the picture cannot be encoded.
bool EncodeJpeg(uint32_t width, uint32_t height, const uint8_t* rgb, bool huffmanTables, std::vector<uint8_t>* out);

// A picture encoded as EncodeJpeg does, in bands of 16 lines (one row of 4:2:0 blocks)
// that are each coded on their own, with a restart interval of one band in the header:
// a decoder starts every band afresh, so a frame may take each band from another
// encoding of the same picture.
struct JpegBands {
  std::vector<uint8_t> header;              // SOI up to the end of the scan header
  std::vector<std::vector<uint8_t>> bands;  // entropy-coded data, top band first
};
bool EncodeJpegBands(uint32_t width, uint32_t height, const uint8_t* rgb, bool huffmanTables, JpegBands* out);

// One JPEG whose band i comes from `a` or `b` (two encodings of one picture) as bit
// (i mod 64) of `choice` says: the header, the bands with restart markers between, EOI.
void JoinJpegBands(const JpegBands& a, const JpegBands& b, uint64_t choice, std::vector<uint8_t>* out);

// BT.601 limited-range conversion of one colour, as EncodeFrame does it.
void RgbToYuv601(Rgb c, uint8_t* y, uint8_t* u, uint8_t* v);

}  // namespace virtualcam
