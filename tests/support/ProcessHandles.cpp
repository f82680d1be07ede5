#include "tests/support/ProcessHandles.h"

#include <windows.h>

namespace pictortest {

std::vector<uintptr_t> OpenHandles()
{
  std::vector<uintptr_t> handles;
  for (uintptr_t value = 4; value < 0x40000; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
      handles.push_back(value);
  }
  return handles;
}

}  // namespace pictortest
