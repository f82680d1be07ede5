#include "window/WindowClassTable.h"

#include <new>
#include <string>
#include <vector>

#include "common/Ownership_win.h"
#include "log/Log.h"

namespace pictor_window {
namespace {

constexpr char kAcquire[] = "AcquireWindowClass";
constexpr char kRelease[] = "ReleaseWindowClass";
constexpr wchar_t kInstanceProperty[] = L"PointerToClassInstance";

bool SameClassName(const std::wstring& a, const wchar_t* b)
{
  // Window class names compare without regard to case.
  return CompareStringOrdinal(a.c_str(), -1, b, -1, TRUE) == CSTR_EQUAL;
}

enum class TClassDecision {
  Reuse,     // the class exists with a live procedure: use it unchanged
  Register,  // no usable class: register ours
  Refuse,    // a stale class that cannot be removed: creating a window would crash
};

TClassDecision ExamineWindowClass(HINSTANCE instance, const wchar_t* className, WNDPROC ownProc)
{
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  if (!GetClassInfoExW(instance, className, &existing)) return TClassDecision::Register;
  if (existing.lpfnWndProc == ownProc) return TClassDecision::Reuse;

  // A class parked on DefWindowProcW by an unloaded copy is safe to use, but windows
  // made from it would never reach their object: take it over when it can be removed.
  const bool parked = existing.lpfnWndProc == &DefWindowProcW;
  if (!parked && IsInLoadedModule(reinterpret_cast<const void*>(existing.lpfnWndProc))) return TClassDecision::Reuse;

  if (!parked)
    LogError("%s class %S has a window procedure %p outside every loaded module; registering it again", kAcquire,
             className, reinterpret_cast<void*>(existing.lpfnWndProc));
  if (UnregisterClassW(className, instance)) return TClassDecision::Register;
  if (parked) return TClassDecision::Reuse;
  LogError("%s UnregisterClass %S error %d", kAcquire, className, static_cast<int>(GetLastError()));
  return TClassDecision::Refuse;
}

struct TClassEntry {
  HINSTANCE instance;
  std::wstring className;
  bool registeredHere;
  int users;  // windows made from the class and creations under way
  std::vector<HWND> windows;
};

class TWindowClassTable {
 public:
  TWindowClassTable() = default;
  TWindowClassTable(const TWindowClassTable&) = delete;
  TWindowClassTable& operator=(const TWindowClassTable&) = delete;

  // Runs when the library is unloaded (the table is a static object of the library).
  ~TWindowClassTable()
  {
    for (TClassEntry& entry : entries) ReleaseAtUnload(entry);
  }

  bool Acquire(HINSTANCE instance, const wchar_t* className, const WNDCLASSEXW& wndClass)
  {
    TExclusiveSRWHold hold(lock);
    const TClassDecision decision = ExamineWindowClass(instance, className, wndClass.lpfnWndProc);
    if (decision == TClassDecision::Refuse) return false;
    const bool registeredHere = decision == TClassDecision::Register && RegisterClassExW(&wndClass) != 0;
    TClassEntry* entry = Find(instance, className);
    if (entry == nullptr) {
      try {
        entries.push_back(TClassEntry{instance, className, false, 0, {}});
      } catch (const std::bad_alloc&) {
        // Untracked, a class registered here merely stays until the process ends.
        LogError("%s out of memory", kAcquire);
        return true;
      }
      entry = &entries.back();
    }
    entry->registeredHere = entry->registeredHere || registeredHere;
    ++entry->users;
    return true;
  }

  void AddWindow(HINSTANCE instance, const wchar_t* className, HWND window)
  {
    TExclusiveSRWHold hold(lock);
    TClassEntry* entry = Find(instance, className);
    if (entry == nullptr) return;
    try {
      entry->windows.push_back(window);
    } catch (const std::bad_alloc&) {
      // Only the clean-up at unload misses this window.
      LogError("%s out of memory", kAcquire);
    }
  }

  void Release(HINSTANCE instance, const wchar_t* className, HWND window)
  {
    TExclusiveSRWHold hold(lock);
    TClassEntry* entry = Find(instance, className);
    if (entry == nullptr) return;
    for (auto it = entry->windows.begin(); it != entry->windows.end(); ++it) {
      if (*it == window) {
        entry->windows.erase(it);
        break;
      }
    }
    if (--entry->users > 0) return;
    if (entry->registeredHere && !UnregisterClassW(entry->className.c_str(), entry->instance))
      LogError("%s UnregisterClass %S error %d", kRelease, entry->className.c_str(), static_cast<int>(GetLastError()));
    entries.erase(entries.begin() + (entry - entries.data()));
  }

 private:
  TClassEntry* Find(HINSTANCE instance, const wchar_t* className)
  {
    for (TClassEntry& entry : entries)
      if (entry.instance == instance && SameClassName(entry.className, className)) return &entry;
    return nullptr;
  }

  // Windows the host never destroyed would call into the unloaded code with their
  // next message; they are switched to the default procedure and lose their link to
  // the object. The class follows, so that windows created from it later are safe too.
  static void ReleaseAtUnload(TClassEntry& entry)
  {
    HWND survivor = nullptr;
    for (HWND window : entry.windows) {
      if (!IsWindow(window)) continue;
      RemovePropW(window, kInstanceProperty);
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
      survivor = window;
    }
    if (!entry.registeredHere) return;
    if (UnregisterClassW(entry.className.c_str(), entry.instance)) return;
    if (survivor != nullptr) SetClassLongPtrW(survivor, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
  }

  SRWLOCK lock = SRWLOCK_INIT;
  std::vector<TClassEntry> entries;
};

// A namespace-scope object, made while the library loads, not a function-local static:
// the first guarded static of this copy would be initialised on a host thread, and the
// threading runtime linked into the library then keeps an event and a thread handle for
// that thread, which nothing releases once the library is unloaded.
TWindowClassTable g_Table;

TWindowClassTable& Table()
{
  return g_Table;
}

}  // namespace

bool IsInLoadedModule(const void* address)
{
  HMODULE module = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module) != 0;
}

bool AcquireWindowClass(HINSTANCE instance, const wchar_t* className, const WNDCLASSEXW& wndClass)
{
  return Table().Acquire(instance, className, wndClass);
}

void AddWindow(HINSTANCE instance, const wchar_t* className, HWND window)
{
  Table().AddWindow(instance, className, window);
}

void ReleaseWindowClass(HINSTANCE instance, const wchar_t* className, HWND window)
{
  Table().Release(instance, className, window);
}

}  // namespace pictor_window
