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

// Makes sure the class exists before a window is created from it, registering wndClass
// when no usable class is there, and counts one user of the class, so that another
// thread destroying the last window of the class cannot unregister it in between.
// False when a window must not be created: a class whose procedure is gone could not be
// removed (then no user is counted).
bool AcquireWindowClass(HINSTANCE instance, const wchar_t* className, const WNDCLASSEXW& wndClass);

// Counts the window as made from the class (after a successful CreateWindowExW).
void AddWindow(HINSTANCE instance, const wchar_t* className, HWND window);

// Drops one user and the window (null when creation failed). The class is unregistered
// when this copy registered it and it has no user left.
void ReleaseWindowClass(HINSTANCE instance, const wchar_t* className, HWND window);

// True when address lies inside a module that is loaded in this process.
bool IsInLoadedModule(const void* address);

}  // namespace pictor_window
