#include "PreviewTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace previewtest {

bool FrameSink::Callback(unsigned int width, unsigned int height, unsigned int pitch, unsigned char* pixels,
                         void* userData)
{
  FrameSink& sink = *static_cast<FrameSink*>(userData);
  {
    std::lock_guard<std::mutex> guard(sink.lock);
    TReferenceImage image(sink.formatWidth, sink.formatHeight);
    for (unsigned int y = 0; y < sink.formatHeight; ++y)
      std::memcpy(image.Pixel(0, y), pixels + size_t(y) * pitch, size_t(sink.formatWidth) * 4);
    sink.frames.push_back(std::move(image));
    sink.lastWidth = width;
    sink.lastHeight = height;
    sink.lastPitch = pitch;
  }
  if (sink.inside)
    sink.inside(sink);
  return false;  // the preview ignores the result
}

TReferenceImage FrameSink::Last()
{
  std::lock_guard<std::mutex> guard(lock);
  return frames.empty() ? TReferenceImage() : frames.back();
}

size_t FrameSink::Count()
{
  std::lock_guard<std::mutex> guard(lock);
  return frames.size();
}

Frame::Frame(unsigned int w, unsigned int h, uint32_t fill) : width(w), height(h), bytes(size_t(w) * h * 4)
{
  for (unsigned int y = 0; y < h; ++y)
    for (unsigned int x = 0; x < w; ++x)
      Set(x, y, fill);
}

void Frame::Set(unsigned int x, unsigned int storedRow, uint32_t argb)
{
  std::memcpy(&bytes[(size_t(storedRow) * width + x) * 4], &argb, 4);
}

uint32_t Frame::Get(unsigned int x, unsigned int storedRow) const
{
  uint32_t argb;
  std::memcpy(&argb, &bytes[(size_t(storedRow) * width + x) * 4], 4);
  return argb;
}

namespace {

uint32_t Next(uint32_t& state)
{
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

// Key-coloured field with a subject; `keyIsBlue` swaps the key's green and blue.
Frame Scene(unsigned int width, unsigned int height, uint32_t seed, bool keyIsBlue)
{
  Frame frame(width, height);
  uint32_t state = seed;
  for (unsigned int y = 0; y < height; ++y) {
    for (unsigned int x = 0; x < width; ++x) {
      const uint32_t noise = Next(state);
      uint32_t r, g, b;
      const bool subject = x > width / 4 && x < width * 3 / 4 && y > height / 5 && y < height * 4 / 5;
      const bool edge = subject && (x == width / 4 + 1 || y == height / 5 + 1);
      if (edge) {  // half key, half subject: some of these are keyed, some are not
        r = 110 + noise % 40;
        g = 150 + (noise >> 8) % 40;
        b = 60 + (noise >> 16) % 30;
      } else if (subject) {
        r = 180 + noise % 50;
        g = 110 + (noise >> 8) % 40;
        b = 80 + (noise >> 16) % 40;
      } else {
        r = 20 + noise % 30;
        g = 170 + (noise >> 8) % 70;
        b = 30 + (noise >> 16) % 40;
      }
      if (keyIsBlue)
        std::swap(g, b);
      // The camera's fourth byte is noise as well: it must not matter once keying runs.
      frame.Set(x, y, (noise >> 24) << 24 | r << 16 | g << 8 | b);
    }
  }
  return frame;
}

}  // namespace

Frame GreenScreenScene(unsigned int width, unsigned int height, uint32_t seed)
{
  return Scene(width, height, seed, false);
}

Frame BlueScreenScene(unsigned int width, unsigned int height, uint32_t seed)
{
  return Scene(width, height, seed, true);
}

Frame GradientPicture(unsigned int width, unsigned int height)
{
  Frame frame(width, height);
  for (unsigned int y = 0; y < height; ++y)
    for (unsigned int x = 0; x < width; ++x)
      frame.Set(x, y, 0xFF000000u | ((x * 255 / std::max(1u, width - 1)) << 16) |
                          ((y * 255 / std::max(1u, height - 1)) << 8) | ((x + y) % 256));
  return frame;
}

TReferenceImage Uploaded(const Frame& frame, TReferenceImage previous)
{
  ReferenceLoadTexture(previous, frame.bytes.data(), frame.height, frame.width * 4);
  return previous;
}

::testing::AssertionResult ImagesNear(const TReferenceImage& actual, const TReferenceImage& expected, int tolerance)
{
  if (actual.Width != expected.Width || actual.Height != expected.Height)
    return ::testing::AssertionFailure() << "size " << actual.Width << "x" << actual.Height << ", expected "
                                         << expected.Width << "x" << expected.Height;
  std::ostringstream report;
  int bad = 0;
  for (unsigned int y = 0; y < actual.Height; ++y)
    for (unsigned int x = 0; x < actual.Width; ++x)
      for (int c = 0; c < 4; ++c)
        if (std::abs(int(actual.Pixel(x, y)[c]) - int(expected.Pixel(x, y)[c])) > tolerance) {
          if (++bad <= 8) {
            char line[96];
            std::snprintf(line, sizeof line, "\n  (%u,%u): got %08X, expected %08X", x, y,
                          unsigned(actual.Argb(x, y)), unsigned(expected.Argb(x, y)));
            report << line;
          }
          break;
        }
  if (bad)
    return ::testing::AssertionFailure() << bad << " pixels differ by more than " << tolerance << report.str();
  return ::testing::AssertionSuccess();
}

std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix)
{
  std::vector<std::string> out;
  for (const std::string& line : lines)
    if (line.compare(0, prefix.size(), prefix) == 0)
      out.push_back(line);
  return out;
}

}  // namespace previewtest
