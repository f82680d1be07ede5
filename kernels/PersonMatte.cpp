// The person matte's image functions: frame to model input, the model's mask to guided
// filter coefficients, and the coefficients to every frame's alpha; the dispatcher that
// picks the row kernels once from the processor's features.
#include "kernels/PersonMatte.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "kernels/PersonMatteInternal.h"
#include "kernels/CpuFeatures.h"

namespace personmatte {

TRowKernels SelectRowKernels(unsigned int features)
{
#if PICTOR_X86
  if (features & kernels::kCpuAVX2) return {AccumulateRow_AVX2, MatteRow_AVX2, "AVX2"};
  if (features & kernels::kCpuSSE2) return {AccumulateRow_SSE2, MatteRow_SSE2, "SSE2"};
#else
  (void)features;
#endif
  return {AccumulateRow_C, MatteRow_C, "C"};
}

namespace {

// Where output pixel i of `to` lands on `from` source pixels: the source pixels its area
// covers, each weighted by the share of the area it covers, times `scale`.
template <typename TSpan>
void Spans(unsigned int from, unsigned int to, float scale, std::vector<TSpan>* spans, std::vector<float>* weights)
{
  spans->clear();
  weights->clear();
  const double step = static_cast<double>(from) / to;
  for (unsigned int i = 0; i < to; ++i) {
    const double a = i * step, b = (i + 1) * step;
    const unsigned int first = std::min(static_cast<unsigned int>(a), from - 1);
    const unsigned int end = std::min(std::max(static_cast<unsigned int>(std::ceil(b)), first + 1), from);
    spans->push_back(TSpan{first, end - first, weights->size()});
    for (unsigned int j = first; j < end; ++j) {
      const double cover = std::min(b, j + 1.0) - std::max(a, static_cast<double>(j));
      weights->push_back(static_cast<float>(std::max(cover, 0.0) / step * scale));
    }
  }
}

// Means over (2r + 1) x (2r + 1) windows cut to the plane, in two passes of running sums:
// along each row, then down the rows a whole row at a time. scratch: width + height +
// width x (height + 1) floats.
void BoxMean(const float* in, float* out, unsigned int width, unsigned int height, unsigned int r, float* scratch)
{
  float* inverseX = scratch;
  float* inverseY = inverseX + width;
  float* rows = inverseY + height;
  float* sums = rows + static_cast<size_t>(width) * height;
  auto inverseCount = [r](unsigned int i, unsigned int n) {
    return 1.0f / static_cast<float>(std::min(i + r, n - 1) - (i > r ? i - r : 0) + 1);
  };
  for (unsigned int x = 0; x < width; ++x) inverseX[x] = inverseCount(x, width);
  for (unsigned int y = 0; y < height; ++y) inverseY[y] = inverseCount(y, height);
  for (unsigned int y = 0; y < height; ++y) {
    const float* row = in + static_cast<size_t>(y) * width;
    float* o = rows + static_cast<size_t>(y) * width;
    float sum = 0;
    for (unsigned int x = 0; x < std::min(r, width); ++x) sum += row[x];
    for (unsigned int x = 0; x < width; ++x) {
      if (x + r < width) sum += row[x + r];
      if (x > r) sum -= row[x - r - 1];
      o[x] = sum * inverseX[x];
    }
  }
  std::fill(sums, sums + width, 0.0f);
  for (unsigned int y = 0; y < std::min(r, height); ++y)
    for (unsigned int x = 0; x < width; ++x) sums[x] += rows[static_cast<size_t>(y) * width + x];
  for (unsigned int y = 0; y < height; ++y) {
    if (y + r < height) {
      const float* add = rows + static_cast<size_t>(y + r) * width;
      for (unsigned int x = 0; x < width; ++x) sums[x] += add[x];
    }
    if (y > r) {
      const float* remove = rows + static_cast<size_t>(y - r - 1) * width;
      for (unsigned int x = 0; x < width; ++x) sums[x] -= remove[x];
    }
    float* o = out + static_cast<size_t>(y) * width;
    for (unsigned int x = 0; x < width; ++x) o[x] = sums[x] * inverseY[y];
  }
}

}  // namespace
}  // namespace personmatte

using namespace personmatte;

TFrameShrinker::TFrameShrinker() : features_(kernels::CpuFeatures()) {}

const char* TFrameShrinker::KernelName() const
{
  return SelectRowKernels(features_).name;
}

bool TFrameShrinker::Prepare(unsigned int width, unsigned int height, unsigned int outWidth, unsigned int outHeight)
{
  if (width == width_ && height == height_ && outWidth == outWidth_ && outHeight == outHeight_) return true;
  width_ = height_ = outWidth_ = outHeight_ = 0;
  try {
    Spans(height, outHeight, 1.0f, &rows_, &rowWeights_);
    Spans(width, outWidth, 1.0f / 255.0f, &columns_, &columnWeights_);
    sums_.assign(static_cast<size_t>(width) * 4, 0.0f);
  } catch (const std::bad_alloc&) {
    return false;
  }
  width_ = width;
  height_ = height;
  outWidth_ = outWidth;
  outHeight_ = outHeight;
  return true;
}

bool TFrameShrinker::Shrink(const uint8_t* pixels, unsigned int width, unsigned int height, unsigned int stride,
                            bool bottomUp, unsigned int outWidth, unsigned int outHeight, float* planes)
{
  if (!pixels || !planes || width == 0 || height == 0 || outWidth == 0 || outHeight == 0 || stride / 4 < width)
    return false;
  if (!Prepare(width, height, outWidth, outHeight)) return false;
  TAccumulateRow* accumulate = SelectRowKernels(features_).accumulate;
  const size_t plane = static_cast<size_t>(outWidth) * outHeight;
  for (unsigned int oy = 0; oy < outHeight; ++oy) {
    std::fill(sums_.begin(), sums_.end(), 0.0f);
    const TSpan& rows = rows_[oy];
    for (unsigned int k = 0; k < rows.count; ++k) {
      const unsigned int y = rows.first + k;
      const uint8_t* row = pixels + static_cast<size_t>(bottomUp ? height - 1 - y : y) * stride;
      accumulate(sums_.data(), row, width, rowWeights_[rows.weights + k]);
    }
    float* red = planes + static_cast<size_t>(oy) * outWidth;
    for (unsigned int ox = 0; ox < outWidth; ++ox) {
      const TSpan& columns = columns_[ox];
      float r = 0, g = 0, b = 0;
      for (unsigned int k = 0; k < columns.count; ++k) {
        const float w = columnWeights_[columns.weights + k];
        const float* s = sums_.data() + 4 * static_cast<size_t>(columns.first + k);
        b += w * s[0];
        g += w * s[1];
        r += w * s[2];
      }
      red[ox] = r;
      red[plane + ox] = g;
      red[2 * plane + ox] = b;
    }
  }
  return true;
}

bool TLowResMatte::Update(const float* planes, const float* probability, unsigned int width, unsigned int height,
                          const TMatteSettings& s)
{
  if (!planes || !probability || width == 0 || height == 0) return false;
  const size_t n = static_cast<size_t>(width) * height;
  const bool fresh = width != width_ || height != height_;
  try {
    smoothed_.resize(n);
    guide_.resize(n);
    a_.resize(n);
    b_.resize(n);
    scratch_.resize(6 * n + 2 * (width + height));
  } catch (const std::bad_alloc&) {
    Reset();
    return false;
  }
  width_ = width;
  height_ = height;
  for (size_t i = 0; i < n; ++i) {
    const float change = probability[i] - smoothed_[i];
    const float weight = std::min(1.0f, std::max(s.newWeight, s.motionGain * std::fabs(change)));
    smoothed_[i] = fresh ? probability[i] : smoothed_[i] + weight * change;
  }
  for (size_t i = 0; i < n; ++i) guide_[i] = 0.299f * planes[i] + 0.587f * planes[n + i] + 0.114f * planes[2 * n + i];

  // He and Sun's guided filter: in every window the matte is a x guide + b, fitted to the
  // mask by least squares; a pixel takes the mean a and b of the windows that hold it.
  float* meanI = scratch_.data();
  float* meanP = meanI + n;
  float* meanIP = meanP + n;
  float* meanII = meanIP + n;
  float* product = meanII + n;
  float* column = product + n;  // BoxMean's scratch
  BoxMean(guide_.data(), meanI, width, height, s.radius, column);
  BoxMean(smoothed_.data(), meanP, width, height, s.radius, column);
  for (size_t i = 0; i < n; ++i) product[i] = guide_[i] * smoothed_[i];
  BoxMean(product, meanIP, width, height, s.radius, column);
  for (size_t i = 0; i < n; ++i) product[i] = guide_[i] * guide_[i];
  BoxMean(product, meanII, width, height, s.radius, column);
  for (size_t i = 0; i < n; ++i) {
    const float variance = meanII[i] - meanI[i] * meanI[i];
    const float a = (meanIP[i] - meanI[i] * meanP[i]) / (variance + s.epsilon);
    a_[i] = a;
    b_[i] = meanP[i] - a * meanI[i];
  }
  BoxMean(a_.data(), meanI, width, height, s.radius, column);
  BoxMean(b_.data(), meanP, width, height, s.radius, column);
  std::copy(meanI, meanI + n, a_.begin());
  std::copy(meanP, meanP + n, b_.begin());
  return true;
}

bool TMatteTable::Build(const float* a, const float* b, unsigned int width, unsigned int height,
                        unsigned int frameWidth, unsigned int frameHeight)
{
  rows_ = frameWidth_ = frameHeight_ = 0;
  if (!a || !b || width == 0 || height == 0 || frameWidth == 0 || frameHeight == 0) return false;
  try {
    a_.resize(static_cast<size_t>(height) * frameWidth);
    b_.resize(static_cast<size_t>(height) * frameWidth);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Pixel centres on pixel centres, the edges held; each row written in one sweep.
  for (unsigned int r = 0; r < height; ++r) {
    const float* ar = a + static_cast<size_t>(r) * width;
    const float* br = b + static_cast<size_t>(r) * width;
    float* ao = a_.data() + static_cast<size_t>(r) * frameWidth;
    float* bo = b_.data() + static_cast<size_t>(r) * frameWidth;
    for (unsigned int x = 0; x < frameWidth; ++x) {
      const float s = std::min(std::max((x + 0.5f) * width / frameWidth - 0.5f, 0.0f), width - 1.0f);
      const unsigned int x0 = static_cast<unsigned int>(s), x1 = std::min(x0 + 1, width - 1);
      const float f = s - x0;
      ao[x] = ar[x0] + f * (ar[x1] - ar[x0]);
      bo[x] = br[x0] + f * (br[x1] - br[x0]);
    }
  }
  rows_ = height;
  frameWidth_ = frameWidth;
  frameHeight_ = frameHeight;
  return true;
}

TMatteWriter::TMatteWriter() : features_(kernels::CpuFeatures()) {}

const char* TMatteWriter::KernelName() const
{
  return SelectRowKernels(features_).name;
}

bool TMatteWriter::Apply(const TMatteTable& table, uint8_t* pixels, unsigned int width, unsigned int height,
                         unsigned int stride, bool bottomUp, float threshold, uint8_t opacity)
{
  if (!pixels || width == 0 || height == 0 || width != table.frameWidth_ || height != table.frameHeight_ ||
      stride / 4 < width)
    return false;
  const size_t keptStride = (width + 7) / 8;
  // The first frame of a size has no previous one to lean towards.
  const bool first = width != width_ || height != height_;
  if (first) {
    try {
      kept_.assign(keptStride * height, 0);
    } catch (const std::bad_alloc&) {
      width_ = height_ = 0;
      return false;
    }
    width_ = width;
    height_ = height;
  }
  TMatteRow* matte = SelectRowKernels(features_).matte;
  const unsigned int rows = table.rows_;
  const float lean = first ? 0.0f : kMatteHysteresis;
  TMatteRowParams params{0.0f, threshold - lean, threshold + lean, static_cast<float>(opacity)};
  for (unsigned int y = 0; y < height; ++y) {
    const float s = std::min(std::max((y + 0.5f) * rows / height - 0.5f, 0.0f), rows - 1.0f);
    const unsigned int r0 = static_cast<unsigned int>(s), r1 = std::min(r0 + 1, rows - 1);
    params.fy = s - r0;
    uint8_t* row = pixels + static_cast<size_t>(bottomUp ? height - 1 - y : y) * stride;
    const size_t o0 = static_cast<size_t>(r0) * width, o1 = static_cast<size_t>(r1) * width;
    matte(row, kept_.data() + keptStride * y, table.a_.data() + o0, table.a_.data() + o1, table.b_.data() + o0,
          table.b_.data() + o1, width, params);
  }
  return true;
}
