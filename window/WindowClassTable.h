// Book-keeping of the window classes this copy of the library registers, so that no
// class it leaves behind points at its window procedure once the library is unloaded.
//
// Classes are registered under a module handle the library does not own (the host
// executable's), and Windows never unregisters a class when the library whose code the
// class procedure lives in is unloaded. A later copy of the library, loaded at another
// address, would find the old class and create windows that jump into freed code.
// Therefore:
//   - a class this copy registered is unregistered when the last window this copy
//     created from it is destroyed, and at the latest when the library is unloaded;
//   - windows still alive at unload (an object the host never destroyed) are switched
//     to DefWindowProcW, and so is their class, before the code goes away;
//   - a class found with a procedure that lies in no loaded module (left by a copy that
//     could not clean up), or parked on DefWindowProcW by an unloaded copy, is
//     unregistered and registered again; a parked class that still has windows is
//     reused as it is (safe, but its windows do not reach their objects).
#pragma once

#include <windows.h>

namespace pictor_window {

enum class TClassDecision {
    Reuse,     // the class exists with a live procedure: use it unchanged
    Register,  // no usable class: register ours
    Refuse,    // a stale class that cannot be removed: creating a window would crash
};

// Looks the class up under instance and decides what CreateHandle does with it.
// ownProc is the procedure this copy registers. A stale class is unregistered here.
TClassDecision ExamineWindowClass(HINSTANCE instance, const wchar_t* className, WNDPROC ownProc);

// A window of the class was created by this copy; registeredHere says whether this
// copy's RegisterClassExW made the class.
void NoteWindowCreated(HINSTANCE instance, const wchar_t* className, HWND window, bool registeredHere);

// The window was destroyed; unregisters the class when it was the last window this copy
// made from a class this copy registered.
void NoteWindowDestroyed(HINSTANCE instance, const wchar_t* className, HWND window);

// True when address lies inside a module that is loaded in this process.
bool IsInLoadedModule(const void* address);

}  // namespace pictor_window
