// White-box access to TPictor's non-exported operations (a friend of the class).
#pragma once

#include "Pictor.h"

class TPictorTestAccess {
 public:
  static IMFSample* CreateNewOutputSample(TPictor& p, unsigned w, unsigned h) { return p.CreateNewOutputSample(w, h); }
  static void ProcessRGB32Sample(TPictor& p, IMFSample* s, unsigned w, unsigned h, bool topDown)
  {
    p.ProcessRGB32Sample(s, w, h, topDown);
  }
  static void SetCallback(TPictor& p, TImageReadyCallback callback, void* context)
  {
    p.pPictorImageReady = callback;
    p.pImageReadyContext = context;
  }
};
