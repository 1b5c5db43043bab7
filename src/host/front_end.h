#pragma once

#include <QString>

// What the registry asks of its windows and tray. A headless registry has
// none: every call then does nothing. The main window implements it.
class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // Start-up: the main window is loaded (not shown) and comes up in the event view.
    virtual void loadMainWindow() {}
    // Start-up with a desktop: show the main window and add the tray icon.
    virtual void showMainWindowAndTray() {}
    virtual void setCaption(const QString& caption) { (void)caption; }
    virtual void setTrayTip(const QString& tip) { (void)tip; }
    // A data arrival on a server slot has been processed (the details view follows it).
    virtual void serverSlotUpdated(int index) { (void)index; }
    // Every tick of the general timer, before the update check.
    virtual void generalTimerTick() {}
    // Shutdown: remove the tray icon, then unload every window.
    virtual void removeTray() {}
    virtual void unloadWindows() {}
};
