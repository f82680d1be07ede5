// Text for the console or the streams a script gave the viewer, which is a window
// program: it has a console only when started from one (or with redirected output).
#pragma once

#include <string>

void WriteOutput(const std::wstring& text);
void WriteError(const std::wstring& text);
