#include "tools/virtualcam/FramePattern.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace virtualcam {
namespace {

uint8_t Clamp8(int v)
{
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

int LumaOf(int r, int g, int b)
{
  return ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16;
}
// Chroma from channel sums over `count` pixels, so a block mean keeps full precision.
int CbOf(int r, int g, int b, int count)
{
  return ((-38 * r - 74 * g + 112 * b + 128 * count) / count >> 8) + 128;
}
int CrOf(int r, int g, int b, int count)
{
  return ((112 * r - 94 * g - 18 * b + 128 * count) / count >> 8) + 128;
}

// Offset in [-amplitude, amplitude] for one byte of the picture, the same in every frame
// of one grain; another grain number gives other offsets.
int Grain(size_t byte, uint32_t grain, int amplitude)
{
  uint32_t h = (static_cast<uint32_t>(byte) + grain * 0x632BE5ABu) * 0x9E3779B1u;
  h ^= h >> 15;
  h *= 0x85EBCA77u;
  h ^= h >> 13;
  return static_cast<int>(h % static_cast<uint32_t>(2 * amplitude + 1)) - amplitude;
}

// Sums of the RGB channels of the 2x2 block (or 2x1 when rows == 1) at (x, y).
void BlockSums(const uint8_t* rgb, uint32_t width, uint32_t x, uint32_t y, uint32_t rows, int* r, int* g, int* b)
{
  *r = *g = *b = 0;
  for (uint32_t dy = 0; dy < rows; ++dy) {
    for (uint32_t dx = 0; dx < 2; ++dx) {
      const uint8_t* p = rgb + ((static_cast<size_t>(y + dy) * width) + x + dx) * 3;
      *r += p[0];
      *g += p[1];
      *b += p[2];
    }
  }
}

// Where a picture lands in a width x height frame: scaled to fit with its aspect ratio
// kept, centred; pixel centres map onto pixel centres.
struct PictureFit {
  const PictureData* picture;
  int64_t left, top, width, height;  // the scaled picture's place in the frame
};

PictureFit FitPicture(const PictureData* picture, uint32_t width, uint32_t height)
{
  PictureFit fit{picture, 0, 0, 0, 0};
  if (!picture || picture->width == 0 || picture->height == 0) return fit;
  const double scale =
      std::min(static_cast<double>(width) / picture->width, static_cast<double>(height) / picture->height);
  fit.width = std::max<int64_t>(1, std::llround(picture->width * scale));
  fit.height = std::max<int64_t>(1, std::llround(picture->height * scale));
  fit.left = (static_cast<int64_t>(width) - fit.width) / 2;
  fit.top = (static_cast<int64_t>(height) - fit.height) / 2;
  return fit;
}

// The picture sampled bilinearly at frame pixel (x, y); black outside it.
Rgb PicturePixel(const PictureFit& fit, uint32_t x, uint32_t y)
{
  const int64_t px = static_cast<int64_t>(x) - fit.left, py = static_cast<int64_t>(y) - fit.top;
  if (px < 0 || py < 0 || px >= fit.width || py >= fit.height) return Rgb{0, 0, 0};
  const PictureData& p = *fit.picture;
  auto source = [](int64_t i, int64_t to, uint32_t from, uint32_t* i0, uint32_t* i1) {
    const double s = std::min(std::max((i + 0.5) * from / to - 0.5, 0.0), from - 1.0);
    *i0 = static_cast<uint32_t>(s);
    *i1 = std::min(*i0 + 1, from - 1);
    return s - *i0;
  };
  uint32_t x0, x1, y0, y1;
  const double fx = source(px, fit.width, p.width, &x0, &x1), fy = source(py, fit.height, p.height, &y0, &y1);
  auto at = [&](uint32_t xx, uint32_t yy, int c) { return p.rgb[(static_cast<size_t>(yy) * p.width + xx) * 3 + c]; };
  uint8_t c[3];
  for (int k = 0; k < 3; ++k) {
    const double top = at(x0, y0, k) * (1 - fx) + at(x1, y0, k) * fx;
    const double bottom = at(x0, y1, k) * (1 - fx) + at(x1, y1, k) * fx;
    c[k] = static_cast<uint8_t>(std::lround(top * (1 - fy) + bottom * fy));
  }
  return Rgb{c[0], c[1], c[2]};
}

// a mixed `percent` percent towards b, rounded.
Rgb Mix(Rgb a, Rgb b, int percent)
{
  auto mix = [&](int x, int y) { return static_cast<uint8_t>((x * (100 - percent) + y * percent + 50) / 100); };
  return Rgb{mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

// One pixel of the green screen; dx, dy from the disc's centre (dx measured round the wrap).
Rgb GreenScreenPixel(const Pattern& p, uint32_t width, uint32_t height, uint32_t x, uint32_t y, int64_t dx, int64_t dy)
{
  const int64_t radius = height / 6;
  Rgb screen = p.screen;
  if (p.uneven != 0) {
    // -uneven at the top left corner to +uneven at the bottom right, linear in x + y.
    const double t = (width > 1 ? double(x) / (width - 1) : 0.5) + (height > 1 ? double(y) / (height - 1) : 0.5) - 1.0;
    const int offset = static_cast<int>(std::lround(p.uneven * t));
    screen = Rgb{Clamp8(screen.r + offset), Clamp8(screen.g + offset), Clamp8(screen.b + offset)};
  }
  const int64_t squared = dx * dx + dy * dy;
  const double distance = std::sqrt(static_cast<double>(squared));
  // Coverage of the pixel by the disc in 1/100: the hard outline takes the pixels whose
  // centre lies in the disc, the soft one ramps over the pixel that the outline crosses.
  int coverage = squared <= radius * radius ? 100 : 0;
  if (p.softEdge) coverage = static_cast<int>(std::lround(std::min(1.0, std::max(0.0, radius + 0.5 - distance)) * 100));
  if (coverage == 0) return screen;
  Rgb subject = kSubjectColour;
  if (p.spill != 0 && distance > static_cast<double>(radius - p.spillWidth)) subject = Mix(subject, screen, p.spill);
  return Mix(screen, subject, coverage);
}

}  // namespace

void RgbToYuv601(Rgb c, uint8_t* y, uint8_t* u, uint8_t* v)
{
  *y = Clamp8(LumaOf(c.r, c.g, c.b));
  *u = Clamp8(CbOf(c.r, c.g, c.b, 1));
  *v = Clamp8(CrOf(c.r, c.g, c.b, 1));
}

uint32_t SubjectCentreX(uint32_t width, uint32_t height, uint64_t frame)
{
  (void)height;
  if (width == 0) return 0;
  return static_cast<uint32_t>((width / 4 + frame * 8) % width);
}

uint64_t PictureCount(const Pattern& pattern, uint32_t width)
{
  if (pattern.kind != PatternKind::GreenScreen || width == 0) return 1;
  // The disc steps 8 columns a frame round a width-column circle.
  uint32_t a = width, b = 8;
  while (b != 0) {
    const uint32_t r = a % b;
    a = b;
    b = r;
  }
  return width / a;
}

void RenderRgbRegion(const Pattern& pattern, uint32_t width, uint32_t height, uint64_t frame, Region region,
                     std::vector<uint8_t>* rgb, uint32_t grain, bool subject)
{
  rgb->assign(static_cast<size_t>(region.width) * region.height * 3, 0);
  // Later grains are a quarter weaker, as a sensor's grain is in more light: pictures made
  // of several grains differ in length as a webcam's frames do.
  const int amplitude = grain ? pattern.noise * 3 / 4 : pattern.noise;
  const int64_t centreX = SubjectCentreX(width, height, frame);
  const PictureFit fit = FitPicture(pattern.picture.get(), width, height);
  uint8_t* p = rgb->data();
  for (uint32_t y = region.y; y < region.y + region.height; ++y) {
    for (uint32_t x = region.x; x < region.x + region.width; ++x, p += 3) {
      Rgb c{};
      switch (pattern.kind) {
        case PatternKind::Bars:
          c = kBarColours[(static_cast<uint64_t>(x) * 8) / width];
          break;
        case PatternKind::Marker:
          c = y < height / 2 ? kMarkerTop : kMarkerBottom;
          break;
        case PatternKind::Solid:
          c = Rgb{pattern.r, pattern.g, pattern.b};
          break;
        case PatternKind::Picture:
          c = fit.picture ? PicturePixel(fit, x, y) : Rgb{0, 0, 0};
          break;
        case PatternKind::GreenScreen: {
          // Horizontal distance measured around the wrap, so the disc re-enters on the left;
          // an empty screen puts the disc out of reach.
          int64_t dx = static_cast<int64_t>(x) - centreX;
          if (dx > static_cast<int64_t>(width) / 2) dx -= width;
          if (dx < -static_cast<int64_t>(width) / 2) dx += width;
          if (!subject) dx = static_cast<int64_t>(width) + height;
          const int64_t dy = static_cast<int64_t>(y) - height / 2;
          c = GreenScreenPixel(pattern, width, height, x, y, dx, dy);
          break;
        }
      }
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
      if (amplitude == 0) continue;
      const size_t byte = (static_cast<size_t>(y) * width + x) * 3;
      for (int i = 0; i < 3; ++i) p[i] = Clamp8(p[i] + Grain(byte + i, grain, amplitude));
    }
  }
}

void RenderRgb(const Pattern& pattern, uint32_t width, uint32_t height, uint64_t frame, std::vector<uint8_t>* rgb,
               uint32_t grain)
{
  RenderRgbRegion(pattern, width, height, frame, Region{0, 0, width, height}, rgb, grain);
}

void EncodeRegion(Subtype subtype, uint32_t width, uint32_t height, bool bottomUp, Region region, const uint8_t* rgb,
                  uint8_t* out)
{
  const uint32_t rw = region.width;
  switch (subtype) {
    case Subtype::RGB32:
    case Subtype::ARGB32:
      for (uint32_t y = 0; y < region.height; ++y) {
        const uint32_t row = bottomUp ? height - 1 - (region.y + y) : region.y + y;
        uint8_t* dst = out + (static_cast<size_t>(row) * width + region.x) * 4;
        const uint8_t* src = rgb + static_cast<size_t>(y) * rw * 3;
        for (uint32_t x = 0; x < rw; ++x) {
          dst[4 * x + 0] = src[3 * x + 2];
          dst[4 * x + 1] = src[3 * x + 1];
          dst[4 * x + 2] = src[3 * x + 0];
          dst[4 * x + 3] = 255;
        }
      }
      break;
    case Subtype::YUY2:
      for (uint32_t y = 0; y < region.height; ++y) {
        uint8_t* dst = out + (static_cast<size_t>(region.y + y) * width + region.x) * 2;
        for (uint32_t x = 0; x + 1 < rw; x += 2, dst += 4) {
          const uint8_t* p0 = rgb + (static_cast<size_t>(y) * rw + x) * 3;
          const uint8_t* p1 = p0 + 3;
          int r, g, b;
          BlockSums(rgb, rw, x, y, 1, &r, &g, &b);
          dst[0] = Clamp8(LumaOf(p0[0], p0[1], p0[2]));
          dst[1] = Clamp8(CbOf(r, g, b, 2));
          dst[2] = Clamp8(LumaOf(p1[0], p1[1], p1[2]));
          dst[3] = Clamp8(CrOf(r, g, b, 2));
        }
      }
      break;
    case Subtype::NV12:
    case Subtype::I420: {
      for (uint32_t y = 0; y < region.height; ++y) {
        uint8_t* dst = out + static_cast<size_t>(region.y + y) * width + region.x;
        const uint8_t* src = rgb + static_cast<size_t>(y) * rw * 3;
        for (uint32_t x = 0; x < rw; ++x) dst[x] = Clamp8(LumaOf(src[3 * x], src[3 * x + 1], src[3 * x + 2]));
      }
      const uint32_t cw = width / 2, ch = height / 2;
      uint8_t* chroma = out + static_cast<size_t>(width) * height;
      for (uint32_t y = 0; y < region.height / 2; ++y) {
        for (uint32_t x = 0; x < rw / 2; ++x) {
          int r, g, b;
          BlockSums(rgb, rw, 2 * x, 2 * y, 2, &r, &g, &b);
          const uint8_t u = Clamp8(CbOf(r, g, b, 4)), v = Clamp8(CrOf(r, g, b, 4));
          const size_t c = static_cast<size_t>(region.y / 2 + y) * cw + region.x / 2 + x;
          if (subtype == Subtype::NV12) {
            chroma[2 * c] = u;
            chroma[2 * c + 1] = v;
          } else {
            chroma[c] = u;
            chroma[static_cast<size_t>(cw) * ch + c] = v;
          }
        }
      }
      break;
    }
    case Subtype::MJPG:
      break;  // compressed: EncodeJpeg
  }
}

void EncodeFrame(Subtype subtype, uint32_t width, uint32_t height, bool bottomUp, const uint8_t* rgb, uint8_t* out)
{
  EncodeRegion(subtype, width, height, bottomUp, Region{0, 0, width, height}, rgb, out);
}

int SubjectBoxes(uint32_t width, uint32_t height, uint64_t frame, Region boxes[2])
{
  // Every pixel the disc touches lies within its radius of the centre, round the wrap;
  // one more pixel of margin, then out to the 2x2 blocks that chroma is shared over.
  const int64_t reach = height / 6 + 1;
  const int64_t top = std::max<int64_t>(0, (static_cast<int64_t>(height / 2) - reach) & ~int64_t{1});
  const int64_t bottom = std::min<int64_t>(height, (static_cast<int64_t>(height / 2) + reach + 2) & ~int64_t{1});
  const uint32_t y = static_cast<uint32_t>(top), rows = static_cast<uint32_t>(bottom - top);
  if (2 * reach + 4 >= static_cast<int64_t>(width)) {
    boxes[0] = Region{0, y, width, rows};
    return 1;
  }
  const int64_t centre = SubjectCentreX(width, height, frame);
  const int64_t left = (centre - reach) & ~int64_t{1};  // rounds down, also below zero
  const int64_t right = (centre + reach + 2) & ~int64_t{1};
  auto columns = [&](int64_t from, int64_t to) {
    const int64_t end = std::min<int64_t>(to, width);
    return Region{static_cast<uint32_t>(from), y, static_cast<uint32_t>(end - from), rows};
  };
  if (left < 0) {
    boxes[0] = columns(0, right);
    boxes[1] = columns(left + width, width);
    return 2;
  }
  if (right > static_cast<int64_t>(width)) {
    boxes[0] = columns(left, width);
    boxes[1] = columns(0, right - width);
    return 2;
  }
  boxes[0] = columns(left, right);
  return 1;
}

void FrameMaker::Fill(const Pattern& pattern, Subtype subtype, uint32_t width, uint32_t height, bool bottomUp,
                      uint64_t frame, uint8_t* out)
{
  const bool moving = pattern.kind == PatternKind::GreenScreen;
  if (pattern_ != &pattern || subtype_ != subtype || width_ != width || height_ != height || bottomUp_ != bottomUp) {
    RenderRgbRegion(pattern, width, height, 0, Region{0, 0, width, height}, &rgb_, 0, !moving);
    base_.resize(FrameBytes(subtype, width, height));
    EncodeFrame(subtype, width, height, bottomUp, rgb_.data(), base_.data());
    pattern_ = &pattern;
    subtype_ = subtype;
    width_ = width;
    height_ = height;
    bottomUp_ = bottomUp;
  }
  memcpy(out, base_.data(), base_.size());
  if (!moving) return;
  Region boxes[2];
  const int count = SubjectBoxes(width, height, frame, boxes);
  for (int i = 0; i < count; ++i) {
    RenderRgbRegion(pattern, width, height, frame, boxes[i], &rgb_);
    EncodeRegion(subtype, width, height, bottomUp, boxes[i], rgb_.data(), out);
  }
}

}  // namespace virtualcam
