// What the person segmentation thread runs: a model that is loaded once on that thread and
// then turns the frame's planes into a person probability. The inference runtime's model
// is one (OnnxSegmentationModel_win.h); tests put in models of their own.
#pragma once

// Why person segmentation is (not) available. Everything but psReady and psLoading is a
// failure whose log line says what is missing.
enum TPersonStatus : int {
  psLoading = 0,               // the thread has not finished loading yet
  psReady,                     // frames are segmented
  psUnsupportedPlatform,       // no trustworthy inference runtime for this architecture (x86)
  psRuntimeMissing,            // onnxruntime.dll is not beside the library
  psRuntimeDependencyMissing,  // the runtime needs DLLs that are not there (the Visual C++ runtime)
  psRuntimeUnusable,           // not a usable runtime: wrong architecture, too old, failed to start
  psModelMissing,              // the model file is not beside the library
  psModelUnusable,             // the runtime refused the model
  psFailed,                    // no thread or no memory for it
};

// A short English name of the status for log lines and hosts ("runtime missing", ...).
const char* PersonStatusName(TPersonStatus status);

class TSegmentationModel {
 public:
  virtual ~TSegmentationModel() = default;

  // The input size; known before Load.
  virtual unsigned int InputWidth() const = 0;
  virtual unsigned int InputHeight() const = 0;

  // On the segmentation thread, once, before any Run; logs what is missing on failure.
  // The model is destroyed on that thread too.
  virtual TPersonStatus Load() = 0;

  // planes: red, green and blue planes of InputWidth x InputHeight floats (0..1), top row
  // first; mask: InputWidth x InputHeight person probabilities. False when the run failed.
  virtual bool Run(const float* planes, float* mask) = 0;
};
