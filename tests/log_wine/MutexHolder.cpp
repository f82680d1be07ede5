// log-mutex-holder MUTEX HELD RELEASE: another process of the session that takes the named
// mutex and keeps it, as a misbehaving neighbour of a host may. It sets the event HELD once
// it owns the mutex and gives it back when the event RELEASE is set (after 60 s at most).
#include <windows.h>

int main(int argc, char** argv)
{
  if (argc != 4) return 2;
  HANDLE mutex = CreateMutexA(nullptr, FALSE, argv[1]);
  HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
  HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
  if (!mutex || !held || !release || WaitForSingleObject(mutex, 10000) != WAIT_OBJECT_0) return 1;
  SetEvent(held);
  WaitForSingleObject(release, 60000);
  ReleaseMutex(mutex);
  return 0;
}
