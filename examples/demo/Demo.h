// The demo host: a console program that uses Pictor.dll the way an application would.
// Each capability of the library is one section in its own file; a section registers
// itself with PICTOR_DEMO_SECTION and runs in order of its rank.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Pictor.h"

struct DemoOptions {
  int camera = 0;   // index into the camera list
  int format = -1;  // capture format index, -1 = the section picks one
  int seconds = 3;  // how long capturing sections run
  std::string outputDir = "demo-output";
  std::vector<std::string> only;  // section names to run; empty = all
};

struct DemoSection {
  int rank;  // lower runs first
  const char* name;
  const char* summary;
  std::function<bool(const DemoOptions&)> run;  // false = the section failed
};

std::vector<DemoSection>& DemoSections();

// The camera at `index` in the camera list, copied to *camera; false (with a line saying
// why) when there is no such camera.
bool ChooseCamera(TPictor& pictor, int index, TPictorDescr* camera);

// Captures `seconds` from the camera in `format` through `pictor` (its conversion choice
// applies), prints the frames delivered and dropped and the measured rate, and saves the
// first frame as firstPng and, unless lastPng is empty, the last one. False when no frame
// came or a picture could not be written.
bool CaptureAndSave(TPictor& pictor, const TPictorDescr& camera, int cameraIndex, const TPictorFormat& format,
                    int formatIndex, int seconds, const std::string& firstPng, const std::string& lastPng);

// The name of a PICTOR_CAPTURE_* state, for printing.
const char* StateName(int state);

struct DemoSectionRegistrar {
  explicit DemoSectionRegistrar(DemoSection section) { DemoSections().push_back(std::move(section)); }
};

#define PICTOR_DEMO_CONCAT2(a, b) a##b
#define PICTOR_DEMO_CONCAT(a, b) PICTOR_DEMO_CONCAT2(a, b)
#define PICTOR_DEMO_SECTION(rank, name, summary, fn) \
  static DemoSectionRegistrar PICTOR_DEMO_CONCAT(demoSection, __LINE__)(DemoSection{rank, name, summary, fn})
