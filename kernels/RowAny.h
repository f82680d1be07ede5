// Runs a vector row kernel whose body handles whole blocks only on a row of any width:
// the whole blocks in place, then the pixels left at the end through the same body on one
// padded block of their own (libyuv's "any" wrappers are the model). Every pixel goes
// through the same arithmetic, so a vector kernel equals the reference for every width by
// construction, and no instruction set writes a tail of its own.
//
// A kernel's pointer arguments are described as streams, in the order the body takes them:
//   In<T, kPerPixel, kMaxReach>{p, reach}  read: kPerPixel elements per pixel, and `reach`
//                                          (at most kMaxReach) more past the row's end, a
//                                          window's overhang; a null p stays null
//   InRows<T, kMaxRows>{rows, count}       read: `count` rows of one element per pixel
//   InOut<T, kPerPixel>{p}                 read and written in place
//   Out<T, kPerPixel>{p}                   written
// RowAny<kBlock>(width, body, streams...) calls body(pixels, pointers...) with pixels a
// multiple of kBlock; the padded block is zero past the row's end, lives on the stack and
// has no particular alignment, so bodies load and store unaligned.
#pragma once

#include <cstddef>
#include <cstring>
#include <tuple>
#include <utility>

namespace kernels {

template <typename T, unsigned int kPerPixel = 1, unsigned int kMaxReach = 0>
struct In {
  const T* p;
  unsigned int reach = kMaxReach;
};

template <typename T, unsigned int kMaxRows>
struct InRows {
  const T* const* rows;
  unsigned int count;
};

template <typename T, unsigned int kPerPixel = 1>
struct InOut {
  T* p;
};

template <typename T, unsigned int kPerPixel = 1>
struct Out {
  T* p;
};

namespace rowany {

// One stream's share of the padded block: Load copies the row's last `rest` pixels in,
// Pointer is what the body gets, Store copies what the body wrote back.
template <typename Stream, unsigned int kBlock>
struct TStaged;

template <typename T, unsigned int kPerPixel, unsigned int kMaxReach, unsigned int kBlock>
struct TStaged<In<T, kPerPixel, kMaxReach>, kBlock> {
  T block[kBlock * kPerPixel + kMaxReach] = {};
  const T* pointer = nullptr;
  void Load(const In<T, kPerPixel, kMaxReach>& s, unsigned int done, unsigned int rest)
  {
    if (s.p == nullptr) return;
    const unsigned int reach = s.reach < kMaxReach ? s.reach : kMaxReach;
    std::memcpy(block, s.p + std::size_t(done) * kPerPixel, (std::size_t(rest) * kPerPixel + reach) * sizeof(T));
    pointer = block;
  }
  void Store(const In<T, kPerPixel, kMaxReach>&, unsigned int, unsigned int) {}
};

template <typename T, unsigned int kMaxRows, unsigned int kBlock>
struct TStaged<InRows<T, kMaxRows>, kBlock> {
  T block[kMaxRows][kBlock] = {};
  const T* rows[kMaxRows] = {};
  void Load(const InRows<T, kMaxRows>& s, unsigned int done, unsigned int rest)
  {
    for (unsigned int i = 0; i < s.count && i < kMaxRows; ++i) {
      std::memcpy(block[i], s.rows[i] + done, std::size_t(rest) * sizeof(T));
      rows[i] = block[i];
    }
  }
  void Store(const InRows<T, kMaxRows>&, unsigned int, unsigned int) {}
  const T* const* pointer = rows;
};

template <typename T, unsigned int kPerPixel, unsigned int kBlock>
struct TStaged<InOut<T, kPerPixel>, kBlock> {
  T block[kBlock * kPerPixel] = {};
  T* pointer = block;
  void Load(const InOut<T, kPerPixel>& s, unsigned int done, unsigned int rest)
  {
    std::memcpy(block, s.p + std::size_t(done) * kPerPixel, std::size_t(rest) * kPerPixel * sizeof(T));
  }
  void Store(const InOut<T, kPerPixel>& s, unsigned int done, unsigned int rest)
  {
    std::memcpy(s.p + std::size_t(done) * kPerPixel, block, std::size_t(rest) * kPerPixel * sizeof(T));
  }
};

template <typename T, unsigned int kPerPixel, unsigned int kBlock>
struct TStaged<Out<T, kPerPixel>, kBlock> {
  T block[kBlock * kPerPixel] = {};
  T* pointer = block;
  void Load(const Out<T, kPerPixel>&, unsigned int, unsigned int) {}
  void Store(const Out<T, kPerPixel>& s, unsigned int done, unsigned int rest)
  {
    std::memcpy(s.p + std::size_t(done) * kPerPixel, block, std::size_t(rest) * kPerPixel * sizeof(T));
  }
};

template <typename T, unsigned int P, unsigned int R>
const T* Whole(const In<T, P, R>& s)
{
  return s.p;
}
template <typename T, unsigned int N>
const T* const* Whole(const InRows<T, N>& s)
{
  return s.rows;
}
template <typename T, unsigned int P>
T* Whole(const InOut<T, P>& s)
{
  return s.p;
}
template <typename T, unsigned int P>
T* Whole(const Out<T, P>& s)
{
  return s.p;
}

template <unsigned int kBlock, typename Body, typename... Streams, std::size_t... I>
void Tail(std::index_sequence<I...>, unsigned int done, unsigned int rest, Body& body, const Streams&... streams)
{
  std::tuple<TStaged<Streams, kBlock>...> staged;
  (std::get<I>(staged).Load(streams, done, rest), ...);
  body(kBlock, std::get<I>(staged).pointer...);
  (std::get<I>(staged).Store(streams, done, rest), ...);
}

}  // namespace rowany

template <unsigned int kBlock, typename Body, typename... Streams>
void RowAny(unsigned int width, Body&& body, const Streams&... streams)
{
  static_assert(kBlock > 0, "a block holds at least one pixel");
  const unsigned int rest = width % kBlock, whole = width - rest;
  if (whole != 0) body(whole, rowany::Whole(streams)...);
  if (rest != 0) rowany::Tail<kBlock>(std::index_sequence_for<Streams...>(), whole, rest, body, streams...);
}

}  // namespace kernels
