#include "log/LogTrace.h"

#include "capture/FPSCalculator.h"

void LogFrameRate(const char* name, TFPSCalculator* meter, DWORD& lastLineTick)
{
  // The measurement only serves this line: nothing is measured below trace level.
  if (!meter || !LogTraceEnabled()) return;
  if (lastLineTick == 0) lastLineTick = GetTickCount();
  meter->Update();
  if (!meter->HasValue || static_cast<DWORD>(GetTickCount() - lastLineTick) <= 5000) return;
  lastLineTick = GetTickCount();
  LogVerbose("%s WebCam FPS is %f", name, meter->FPS);
}
