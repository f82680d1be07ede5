// What a TPictorD3D9Preview keeps beyond its first interface's members. Hosts allocate
// the preview themselves, so its size is fixed: everything added since lives here, behind
// TPictorD3D9Preview::pState, made by the constructor and deleted by the destructor.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "PictorD3D9Preview.h"
#include "kernels/AlignedBitmap.h"
#include "kernels/KeyRefine.h"
#include "kernels/KeySample.h"
#include "kernels/SoftCompose.h"
#include "person/PersonSegmenter_win.h"

struct TPictorD3D9PreviewState {
  // The converter and the renderer the next StartPreview sets up; the renderer the running
  // preview uses.
  TPictorConversion conversion = pcSystemConverter;
  TPictorRenderer renderer = prDirect3D9;
  TPictorRenderer activeRenderer = prDirect3D9;
  // Given to the capture at each StartPreview, and at once to a running one.
  bool autoReconnect = false;
  // The thread composing a frame (0 between frames): a stop from there would wait for
  // itself, so it is refused.
  std::atomic<DWORD> frameThread{0};
  // Frames dropped since the renderer's set-up because their size is not its output's.
  unsigned int framesOfAnotherSize = 0;
  // The real-screen options (under previewLock) and what they keep across frames.
  float spillSuppression = 0.0f;
  unsigned int edgeChoke = 0;
  TKeyRefiner keyRefiner;
  TScreenSampler screenSampler;
  // The software renderer's compositor (kept across starts) and output (the capture
  // format's size, rows top first, made by InitSoftware).
  TSoftCompositor softCompositor;
  std::unique_ptr<TQDAlignedBitmap32> softOutput;
  // Person mode (under previewLock): its segmenter, made at the mode's first use and kept
  // while the preview lives (a failed one is dropped, so the next switch tries again), and
  // the model file it runs.
  TPictorKeyingMode keyingMode = kmColor;
  std::unique_ptr<TPersonSegmenter> segmenter;
  const wchar_t* personModel = nullptr;
  unsigned int personFrames = 0;  // frames keyed in person mode
  // d3d9.dll, loaded by the first Direct3D set-up and freed by the destructor after every
  // Direct3D object; null while the preview has used only the software renderer.
  HMODULE hDirect3DModule = nullptr;
};
