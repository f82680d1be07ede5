// Picture files through the Windows Imaging Component: backgrounds in, PNG files out.
// COM must be initialised on the calling thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// 4 bytes per pixel (blue, green, red, alpha), top row first, Width * 4 bytes per row.
struct TImage {
  unsigned int Width = 0;
  unsigned int Height = 0;
  std::vector<unsigned char> Pixels;
};

// Any picture the system decodes (PNG, BMP, JPEG, ...), scaled to cover width x height
// with its aspect ratio kept and cut to it round the centre. False with a message.
bool LoadPictureCovering(const std::wstring& path, unsigned int width, unsigned int height, TImage* image,
                         std::wstring* error);

// Writes the pixels as an opaque 24-bit PNG (the composite's alpha is no transparency).
bool SavePng(const std::wstring& path, unsigned int width, unsigned int height, unsigned int stride,
             const unsigned char* pixels, std::wstring* error);

// The whole window, frame included, brought to the front and painted first.
bool SaveWindowPng(HWND window, const std::wstring& path, std::wstring* error);
