#include "window/WindowClassTable.h"

#include <new>
#include <string>
#include <vector>

#include "log/Log.h"

namespace pictor_window {
namespace {

constexpr char kExamine[] = "ExamineWindowClass";
constexpr wchar_t kInstanceProperty[] = L"PointerToClassInstance";

bool SameClassName(const std::wstring& a, const wchar_t* b)
{
    // Window class names compare without regard to case.
    return CompareStringOrdinal(a.c_str(), -1, b, -1, TRUE) == CSTR_EQUAL;
}

struct TClassEntry {
    HINSTANCE instance;
    std::wstring className;
    bool registeredHere;
    std::vector<HWND> windows;
};

class TWindowClassTable {
public:
    TWindowClassTable() = default;
    TWindowClassTable(const TWindowClassTable&) = delete;
    TWindowClassTable& operator=(const TWindowClassTable&) = delete;

    // Runs when the library is unloaded (the table is a function-local static, so its
    // destructor is registered with the library's own exit list on first use).
    ~TWindowClassTable()
    {
        for (TClassEntry& entry : entries)
            ReleaseAtUnload(entry);
    }

    void WindowCreated(HINSTANCE instance, const wchar_t* className, HWND window, bool registeredHere)
    {
        AcquireSRWLockExclusive(&lock);
        try {
            TClassEntry* entry = Find(instance, className);
            if (entry == nullptr) {
                entries.push_back(TClassEntry{instance, className, false, {}});
                entry = &entries.back();
            }
            entry->registeredHere = entry->registeredHere || registeredHere;
            entry->windows.push_back(window);
        } catch (const std::bad_alloc&) {
            // Untracked, the class merely stays registered until the process ends.
            LogError("%s out of memory tracking window %p", "NoteWindowCreated", static_cast<void*>(window));
        }
        ReleaseSRWLockExclusive(&lock);
    }

    void WindowDestroyed(HINSTANCE instance, const wchar_t* className, HWND window)
    {
        AcquireSRWLockExclusive(&lock);
        TClassEntry* entry = Find(instance, className);
        if (entry != nullptr) {
            for (auto it = entry->windows.begin(); it != entry->windows.end(); ++it) {
                if (*it == window) {
                    entry->windows.erase(it);
                    break;
                }
            }
            if (entry->windows.empty()) {
                if (entry->registeredHere && !UnregisterClassW(entry->className.c_str(), entry->instance))
                    LogError("%s UnregisterClass %S error %d", "NoteWindowDestroyed", entry->className.c_str(),
                             static_cast<int>(GetLastError()));
                entries.erase(entries.begin() + (entry - entries.data()));
            }
        }
        ReleaseSRWLockExclusive(&lock);
    }

private:
    TClassEntry* Find(HINSTANCE instance, const wchar_t* className)
    {
        for (TClassEntry& entry : entries)
            if (entry.instance == instance && SameClassName(entry.className, className))
                return &entry;
        return nullptr;
    }

    // Windows the host never destroyed would call into the unloaded code with their
    // next message; they are switched to the default procedure and lose their link to
    // the object. The class follows, so that windows created from it later are safe too.
    static void ReleaseAtUnload(TClassEntry& entry)
    {
        HWND survivor = nullptr;
        for (HWND window : entry.windows) {
            if (!IsWindow(window))
                continue;
            RemovePropW(window, kInstanceProperty);
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
            survivor = window;
        }
        if (!entry.registeredHere)
            return;
        if (UnregisterClassW(entry.className.c_str(), entry.instance))
            return;
        if (survivor != nullptr)
            SetClassLongPtrW(survivor, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
    }

    SRWLOCK lock = SRWLOCK_INIT;
    std::vector<TClassEntry> entries;
};

TWindowClassTable& Table()
{
    static TWindowClassTable table;
    return table;
}

}  // namespace

bool IsInLoadedModule(const void* address)
{
    HMODULE module = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &module) != 0;
}

TClassDecision ExamineWindowClass(HINSTANCE instance, const wchar_t* className, WNDPROC ownProc)
{
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (!GetClassInfoExW(instance, className, &existing))
        return TClassDecision::Register;
    if (existing.lpfnWndProc == ownProc)
        return TClassDecision::Reuse;

    // A class parked on DefWindowProcW by an unloaded copy is safe to use, but windows
    // made from it would never reach their object: take it over when it can be removed.
    const bool parked = existing.lpfnWndProc == &DefWindowProcW;
    if (!parked && IsInLoadedModule(reinterpret_cast<const void*>(existing.lpfnWndProc)))
        return TClassDecision::Reuse;

    if (!parked)
        LogError("%s class %S has a window procedure %p outside every loaded module; registering it again", kExamine,
                 className, reinterpret_cast<void*>(existing.lpfnWndProc));
    if (UnregisterClassW(className, instance))
        return TClassDecision::Register;
    if (parked)
        return TClassDecision::Reuse;
    LogError("%s UnregisterClass %S error %d", kExamine, className, static_cast<int>(GetLastError()));
    return TClassDecision::Refuse;
}

void NoteWindowCreated(HINSTANCE instance, const wchar_t* className, HWND window, bool registeredHere)
{
    Table().WindowCreated(instance, className, window, registeredHere);
}

void NoteWindowDestroyed(HINSTANCE instance, const wchar_t* className, HWND window)
{
    Table().WindowDestroyed(instance, className, window);
}

}  // namespace pictor_window
