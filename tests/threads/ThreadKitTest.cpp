// The library's threads (common/Thread_win.h): named, stopped through their stop event and
// joined, or ending by themselves when their routine frees their owner; and the check of
// which thread touches thread-owned state, which debug builds make and this program forces on.
#define PICTOR_THREAD_CHECKS 1
#include "common/Thread_win.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

// The calling thread's name, looked up as the library looks up SetThreadDescription.
std::wstring OwnName()
{
  using TGetThreadDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  const auto get = reinterpret_cast<TGetThreadDescription>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
  PWSTR name = nullptr;
  if (!get || FAILED(get(GetCurrentThread(), &name))) return L"(no description)";
  const std::wstring copy = name;
  LocalFree(name);
  return copy;
}

struct Owner {
  TLibraryThread Thread;
  std::wstring Name;
  bool Stopped = false;
  HANDLE Done = nullptr;
};

DWORD WINAPI WaitForStop(LPVOID parameter)
{
  auto* owner = static_cast<Owner*>(parameter);
  owner->Name = OwnName();
  owner->Stopped = owner->Thread.StopRequested(30000);
  return 0;
}

DWORD WINAPI FreeOwner(LPVOID parameter)
{
  auto* owner = static_cast<Owner*>(parameter);
  const HANDLE done = owner->Done;
  delete owner;  // a thread that joined itself here would never get on
  SetEvent(done);
  return 0;
}

// SetThreadDescription exists from Windows 10 1607 on, and in Wine 8.0.
TEST(LibraryThread, RunsUnderItsNameUntilAskedToStopAndIsJoined)
{
  Owner owner;
  ASSERT_TRUE(owner.Thread.Start(L"Pictor test", WaitForStop, &owner));
  owner.Thread.RequestStop();
  ASSERT_TRUE(owner.Thread.Join(30000));
  EXPECT_TRUE(owner.Stopped);
  EXPECT_EQ(owner.Name, L"Pictor test");
}

TEST(LibraryThread, AThreadWhoseRoutineFreesItsOwnerEndsByItself)
{
  auto* owner = new Owner;
  HANDLE done = owner->Done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(owner->Thread.Start(L"Pictor test", FreeOwner, owner));
  EXPECT_EQ(WaitForSingleObject(done, 30000), WAIT_OBJECT_0);
  CloseHandle(done);
}

TEST(ThreadChecker, StateBelongsToTheFirstThreadThatTouchesItUntilDetached)
{
  TThreadChecker checker;
  EXPECT_TRUE(checker.CalledOnOwner());
  bool onOwner = true;
  std::thread([&] { onOwner = checker.CalledOnOwner(); }).join();
  EXPECT_FALSE(onOwner);
  EXPECT_TRUE(checker.CalledOnOwner());
  checker.Detach();
  std::thread([&] { onOwner = checker.CalledOnOwner(); }).join();
  EXPECT_TRUE(onOwner);
  EXPECT_FALSE(checker.CalledOnOwner());
}

}  // namespace
