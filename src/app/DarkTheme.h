#pragma once

class QApplication;
class QWidget;

// The dark colour theme, applied once at start-up when the desktop's own palette is
// dark: Linux has no single "apps use light theme" switch, so the platform's default
// window colour decides.
class DarkTheme {
public:
    // True when the platform's default window colour has a lightness below 128.
    static bool desktopPrefersDark();
    // Fusion style, the dark palette and the tool-tip style sheet on the application;
    // the dark gradient on the quick-controls frame.
    static void apply(QApplication *app, QWidget *quickControlsFrame);
    // Applies the theme when the desktop prefers dark; returns whether it did.
    static bool applyIfDesktopIsDark(QApplication *app, QWidget *quickControlsFrame);
};
