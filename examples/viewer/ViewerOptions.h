// The viewer's settings as the command line gives them; the window starts from them and
// the panel changes them afterwards.
#pragma once

#include <string>

// The keying choices of the panel, in its list's order.
enum class TKeyChoice : int { Off, Green, Blue, Custom, Person };
enum class TBackgroundChoice : int { None, Black, Image };

struct TViewerOptions {
  std::wstring camera;  // list index, symbolic link or part of the name; empty: the first camera
  std::wstring format;  // list index or WxH[@FPS][:SUBTYPE]; empty: the first format
  // The software renderer composes at memory speed and needs no graphics device, and the
  // built-in conversion lists the MJPG formats that most webcams use for HD; both can
  // be switched in the panel.
  bool direct3D = false;
  bool builtInConversion = true;
  TKeyChoice keying = TKeyChoice::Off;
  unsigned int keyColor = 0x00FF00;  // 0xRRGGBB, for TKeyChoice::Custom
  bool sampleKeyColor = false;       // take the key colour from the first frames
  float sensitivity = -1.0f;         // below 0: the library's default
  float smoothing = -1.0f;
  int opacity = 255;
  float spill = 0.0f;
  int choke = 0;
  TBackgroundChoice background = TBackgroundChoice::None;
  std::wstring backgroundFile;
  bool reconnect = true;
  // Scripts and tests: after `frames` composites, save the composite and/or a capture of
  // the whole window, then exit; give up after `timeoutSeconds` without them.
  std::wstring snapshotFile;
  std::wstring windowShotFile;
  int frames = 30;
  int timeoutSeconds = 30;
  std::wstring statusLogFile;  // every change of the status line, one line each
  bool help = false;
};

// False with a message on a bad command line.
bool ParseViewerOptions(int argc, wchar_t** argv, TViewerOptions* options, std::wstring* error);

const wchar_t* ViewerUsage();
