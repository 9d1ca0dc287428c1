#pragma once

#include <QApplication>
#include <QPointer>

class TrevantUI;
class QThread;

// The application object: names the application, starts the process-wide edit worker,
// owns the main window and forwards file-open events from the desktop to it.
class Quillory : public QApplication {
    Q_OBJECT
public:
    // Runs the whole application: the constructor returns after the event loop has
    // ended. Tests pass runEventLoop = false to get a fully started application and
    // drive the event loop themselves.
    Quillory(int &argc, char **argv, bool runEventLoop = true);
    ~Quillory() override;

    TrevantUI *mainWindow() const { return m_mainWindow; }

    // Sets the application, organisation and version names that decide the settings folder.
    static void setApplicationNames();

public slots:
    // Retires the main window. Safe to call more than once (closed() and aboutToQuit()
    // both reach it) and from inside the window's own event handlers: the window is
    // deleted from the event loop, never inside its own handler.
    void shutDown();

protected:
    bool event(QEvent *e) override;

private:
    void startEditWorker();

    TrevantUI *m_mainWindow = nullptr;
    QPointer<TrevantUI> m_retiredWindow;
};
