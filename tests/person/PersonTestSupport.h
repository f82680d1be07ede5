// What the person segmentation tests share: the log, a wait, the photograph as the virtual
// camera shows it and its reference mask (tools/personmodel/reference_mask.py).
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/LogCapture.h"
#include "tools/virtualcam/FramePattern.h"

namespace persontest {

inline bool Logged(const std::string& part)
{
  for (const std::string& line : pictortest::LogCapture::Get().Lines())
    if (line.find(part) != std::string::npos) return true;
  return false;
}

template <typename Condition>
bool WaitFor(Condition condition)
{
  for (int i = 0; i < 1000 && !condition(); ++i) Sleep(10);
  return condition();
}

// The photograph as the virtual camera shows it at 1280 x 720, as BGRA, top row first.
inline std::vector<uint8_t> Photograph(unsigned int w, unsigned int h)
{
  const virtualcam::ParseResult config =
      virtualcam::ParseConfig("camera link=a pattern=picture:" PICTOR_TEST_PICTURE "\n");
  EXPECT_EQ(config.errorLine, 0) << config.error;
  std::vector<uint8_t> rgb, frame(4 * w * h);
  virtualcam::RenderRgb(config.cameras.at(0).pattern, w, h, 0, &rgb);
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    frame[4 * i] = rgb[3 * i + 2];
    frame[4 * i + 1] = rgb[3 * i + 1];
    frame[4 * i + 2] = rgb[3 * i];
  }
  return frame;
}

inline std::vector<uint8_t> ReferenceMask(unsigned int w, unsigned int h)
{
  std::ifstream file(PICTOR_TEST_REFERENCE, std::ios::binary);
  std::string magic;
  unsigned int fw = 0, fh = 0, maxValue = 0;
  file >> magic >> fw >> fh >> maxValue;
  file.get();
  std::vector<uint8_t> mask(size_t(w) * h);
  file.read(reinterpret_cast<char*>(mask.data()), mask.size());
  EXPECT_TRUE(magic == "P5" && fw == w && fh == h && file) << "reference " PICTOR_TEST_REFERENCE;
  return mask;
}

}  // namespace persontest
