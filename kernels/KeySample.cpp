#include "kernels/KeySample.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

constexpr int kHueBins = 24;  // 15 degrees each

// Hue bin of a saturated colour, or -1 for a grey, dark or washed-out one.
int HueBin(const uint8_t* p)
{
  const int r = p[0], g = p[1], b = p[2];
  const int hi = std::max(r, std::max(g, b)), lo = std::min(r, std::min(g, b)), chroma = hi - lo;
  if (chroma < 40 || hi < 48) return -1;
  int degrees;
  if (hi == r)
    degrees = 60 * (g - b) / chroma;
  else if (hi == g)
    degrees = 120 + 60 * (b - r) / chroma;
  else
    degrees = 240 + 60 * (r - g) / chroma;
  return ((degrees + 360) % 360) / (360 / kHueBins);
}

bool NearBin(int bin, int centre)
{
  if (bin < 0) return false;
  const int d = std::abs(bin - centre);
  return d <= 1 || d == kHueBins - 1;
}

}  // namespace

void TScreenSampler::Take(const unsigned char* pixels, unsigned int width, unsigned int height, unsigned int stride)
{
  if (pixels == nullptr || width == 0 || height == 0) return;
  const unsigned int step = std::max(1u, (std::max(width, height) + 159) / 160);
  const unsigned int w = (width + step - 1) / step, h = (height + step - 1) / step;
  try {
    thumb_.resize(std::size_t(w) * h * 3);
  } catch (const std::bad_alloc&) {
    width_ = height_ = 0;
    return;
  }
  uint8_t* out = thumb_.data();
  for (unsigned int y = 0; y < height; y += step) {
    const unsigned char* row = pixels + std::size_t(y) * stride;
    for (unsigned int x = 0; x < width; x += step, out += 3) {
      out[0] = row[x * 4 + 2];
      out[1] = row[x * 4 + 1];
      out[2] = row[x * 4];
    }
  }
  width_ = w;
  height_ = h;
}

bool TScreenSampler::Sample(unsigned int* rgb) const
{
  const unsigned int w = width_, h = height_;
  if (w == 0 || h == 0 || rgb == nullptr) return false;
  auto at = [&](unsigned int x, unsigned int y) { return thumb_.data() + (std::size_t(y) * w + x) * 3; };

  // The border's dominant hue: the bin that, with its two neighbours, holds most of it.
  const unsigned int ring = std::max(1u, std::min(w, h) / 10);
  unsigned int counts[kHueBins] = {}, border = 0;
  for (unsigned int y = 0; y < h; ++y)
    for (unsigned int x = 0; x < w; ++x) {
      if (x >= ring && x + ring < w && y >= ring && y + ring < h) continue;
      ++border;
      const int bin = HueBin(at(x, y));
      if (bin >= 0) ++counts[bin];
    }
  int best = 0;
  unsigned int bestCount = 0;
  for (int bin = 0; bin < kHueBins; ++bin) {
    const unsigned int n = counts[(bin + kHueBins - 1) % kHueBins] + counts[bin] + counts[(bin + 1) % kHueBins];
    if (n > bestCount) best = bin, bestCount = n;
  }
  if (bestCount * 3 < border) return false;

  // The largest 4-connected region of that hue whose neighbours differ by little.
  std::vector<int> label;
  std::vector<unsigned int> queue, largest;
  try {
    label.assign(std::size_t(w) * h, -1);
    queue.reserve(std::size_t(w) * h);
  } catch (const std::bad_alloc&) {
    return false;
  }
  auto uniform = [&](const uint8_t* a, const uint8_t* b) {
    return std::abs(a[0] - b[0]) <= 24 && std::abs(a[1] - b[1]) <= 24 && std::abs(a[2] - b[2]) <= 24;
  };
  for (unsigned int start = 0; start < w * h; ++start) {
    if (label[start] >= 0 || !NearBin(HueBin(thumb_.data() + std::size_t(start) * 3), best)) continue;
    queue.assign(1, start);
    label[start] = int(start);
    for (std::size_t i = 0; i < queue.size(); ++i) {
      const unsigned int p = queue[i], x = p % w, y = p / w;
      const unsigned int next[4] = {x > 0 ? p - 1 : p, x + 1 < w ? p + 1 : p, y > 0 ? p - w : p, y + 1 < h ? p + w : p};
      for (unsigned int q : next) {
        if (label[q] >= 0 || !NearBin(HueBin(thumb_.data() + std::size_t(q) * 3), best) ||
            !uniform(thumb_.data() + std::size_t(p) * 3, thumb_.data() + std::size_t(q) * 3))
          continue;
        label[q] = int(start);
        queue.push_back(q);
      }
    }
    if (queue.size() > largest.size()) largest.swap(queue);
  }
  if (largest.size() < 4) return false;

  // Its median per channel: the screen's lighting gradient and noise average out.
  unsigned int histogram[3][256] = {};
  for (unsigned int p : largest)
    for (int c = 0; c < 3; ++c) ++histogram[c][thumb_[std::size_t(p) * 3 + c]];
  unsigned int result = 0;
  for (int c = 0; c < 3; ++c) {
    unsigned int seen = 0, value = 0;
    while (value < 255 && (seen += histogram[c][value]) * 2 < largest.size()) ++value;
    result = (result << 8) | value;
  }
  *rgb = result;
  return true;
}
