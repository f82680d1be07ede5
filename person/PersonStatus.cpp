#include "person/SegmentationModel.h"

const char* PersonStatusName(TPersonStatus status)
{
  switch (status) {
    case psLoading:
      return "loading";
    case psReady:
      return "ready";
    case psUnsupportedPlatform:
      return "no inference runtime for this platform";
    case psRuntimeMissing:
      return "inference runtime missing";
    case psRuntimeDependencyMissing:
      return "Visual C++ runtime missing";
    case psRuntimeUnusable:
      return "inference runtime unusable";
    case psModelMissing:
      return "model missing";
    case psModelUnusable:
      return "model unusable";
    case psFailed:
      return "failed";
  }
  return "unknown";
}
