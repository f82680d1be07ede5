// Hands the preview's composites from the library's thread to the window's thread. The
// library's thread copies each composite into a buffer of its own and swaps it with the
// ready one under a lock that either side holds only for the swap, so neither waits on
// the other's work; a composite the window has not taken by then is replaced (skipped).
#pragma once

#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

struct TComposite {
  unsigned int Width = 0;
  unsigned int Height = 0;
  std::vector<unsigned char> Pixels;  // BGRA, top row first, Width * 4 bytes per row
  unsigned long long Number = 0;      // 1 for the viewer's first composite
};

class TFrameMailbox {
 public:
  // The composite with this number is also kept aside, once (--snapshot).
  explicit TFrameMailbox(unsigned long long keepNumber) : keepNumber_(keepNumber) {}

  // Library thread. True when the window is to be told (no notice is pending).
  bool Put(unsigned int width, unsigned int height, unsigned int pitch, const unsigned char* pixels)
  {
    back_.Width = width;
    back_.Height = height;
    back_.Number = delivered_.load() + 1;
    back_.Pixels.resize(size_t(width) * height * 4);
    for (unsigned int y = 0; y < height; ++y)
      std::memcpy(&back_.Pixels[size_t(y) * width * 4], pixels + size_t(y) * pitch, size_t(width) * 4);
    if (back_.Number == keepNumber_) {
      kept_ = back_;
      keptReady_.store(true);
    }
    {
      std::lock_guard<std::mutex> hold(mutex_);
      std::swap(back_, ready_);
      if (fresh_) skipped_.fetch_add(1);
      fresh_ = true;
    }
    delivered_.fetch_add(1);
    return !noticePending_.exchange(true);
  }

  // Window thread: the newest composite into *frame (its buffer is reused); false when
  // none has come since the last call.
  bool Take(TComposite* frame)
  {
    noticePending_.store(false);
    std::lock_guard<std::mutex> hold(mutex_);
    if (!fresh_) return false;
    std::swap(*frame, ready_);
    fresh_ = false;
    return true;
  }

  // Window thread: the kept composite, once it has come.
  const TComposite* Kept() const { return keptReady_.load() ? &kept_ : nullptr; }

  unsigned long long Delivered() const { return delivered_.load(); }
  unsigned long long Skipped() const { return skipped_.load(); }

 private:
  const unsigned long long keepNumber_;
  TComposite back_;  // library thread only
  TComposite kept_;  // written once by the library thread before keptReady_
  std::atomic<bool> keptReady_{false};
  std::mutex mutex_;
  TComposite ready_;
  bool fresh_ = false;
  std::atomic<unsigned long long> delivered_{0};
  std::atomic<unsigned long long> skipped_{0};
  std::atomic<bool> noticePending_{false};
};
