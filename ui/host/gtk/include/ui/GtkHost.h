#pragma once
// The host with real windows: GTK 3 on X11. Windows are borderless, placed where the program
// puts them, transparent where the skin is when a compositor runs (shaped to the skin's outline
// when none does), dragged by their caption area; edits get a native entry laid over them while
// they are being edited; the folder chooser and the system message box are GTK dialogs.
//
// Create() returns null when no X display can be opened (the caller may fall back to the
// headless host). Only this host's files include GTK. Everything here is for the UI thread.

#include <memory>
#include <string>

#include "ui/Host.h"
#include "ui/WindowBase.h"

namespace ui::gtk {

class GtkBackend;

// Opens the display and installs the GTK backend on the calling thread; null (nothing
// installed) when there is no display. Forces the X11 back end: Wayland cannot place windows.
GtkBackend* Install();

// Runs the loop for `ms` milliseconds (drives tests and benchmarks).
void RunFor(int ms);
// Runs the loop until `window` has finished painting at least `frames` frames or `ms` passed.
bool WaitForFrames(const WindowBase& window, int frames, int ms);
int FramesPainted(const WindowBase& window);
// A pointer click at `point` (client coordinates) sent through the X server to the window.
bool SimulateClick(const WindowBase& window, Point point);
// A key press (kVk… code) handed to the window's toplevel as GTK hands it a key event.
bool SimulateKey(const WindowBase& window, WParam key);
// The window manager's close request (the title bar's close, Alt+F4).
bool SimulateCloseRequest(const WindowBase& window);
// What the X server shows of the window, as a PNG file.
bool SaveScreenshot(const WindowBase& window, const std::string& path,
                    std::string* error = nullptr);
// What the X server shows in `area` of the screen (every window there, stacked as shown), as a
// PNG file: a box over its owner, a shaped window over the desktop.
bool SaveScreenArea(const Rect& area, const std::string& path, std::string* error = nullptr);
// Whether windows get an alpha channel (a compositor runs) or fall back to shapes.
bool HasCompositor();

}  // namespace ui::gtk
