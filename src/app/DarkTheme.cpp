#include "DarkTheme.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

bool DarkTheme::desktopPrefersDark()
{
    // The application palette may already be ours; the style's standard palette is
    // what the desktop asked for.
    const QPalette platform = QApplication::style() ? QApplication::style()->standardPalette() : QPalette();
    const QPalette appPalette = QGuiApplication::palette();
    const QColor window = appPalette.color(QPalette::Window).isValid() ? appPalette.color(QPalette::Window)
                                                                        : platform.color(QPalette::Window);
    return window.lightness() < 128;
}

void DarkTheme::apply(QApplication *app, QWidget *quickControlsFrame)
{
    app->setStyle(QStyleFactory::create("Fusion"));
    QPalette p;
    const QColor dark(45, 45, 45), disabled(127, 127, 127), blue(42, 130, 218);
    p.setColor(QPalette::Window, dark);
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Base, QColor(18, 18, 18));
    p.setColor(QPalette::AlternateBase, dark);
    p.setColor(QPalette::ToolTipBase, Qt::white);
    p.setColor(QPalette::ToolTipText, Qt::white);
    p.setColor(QPalette::Text, Qt::white);
    p.setColor(QPalette::Disabled, QPalette::Text, disabled);
    p.setColor(QPalette::Button, dark);
    p.setColor(QPalette::ButtonText, Qt::white);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, disabled);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Link, blue);
    p.setColor(QPalette::Light, Qt::black);
    p.setColor(QPalette::Highlight, blue);
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::Disabled, QPalette::HighlightedText, disabled);
    app->setPalette(p);
    app->setStyleSheet("QToolTip { color: #ffffff; background-color: #2a82da; border: 1px solid white; } "
                       "QMenu::item:disabled{etch-disabled-text: 0;}");
    if (quickControlsFrame)
        quickControlsFrame->setStyleSheet(
            "QFrame#frameQuickControls { background-image: url(:/toolbargradient_darkmode.png); }");
}

bool DarkTheme::applyIfDesktopIsDark(QApplication *app, QWidget *quickControlsFrame)
{
    if (!desktopPrefersDark())
        return false;
    apply(app, quickControlsFrame);
    return true;
}
