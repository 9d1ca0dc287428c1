#include "Quillory.h"

#include "AudioEditWorker.h"
#include "DarkTheme.h"
#include "EditableAudioCache.h"
#include "TrevantUI.h"
#include "UiLogging.h"

#include <QFileOpenEvent>

Quillory::Quillory(int &argc, char **argv, bool runEventLoop) : QApplication(argc, argv)
{
    setApplicationNames();
    EditableAudioCache::installInLoopModel();
    startEditWorker();

    m_mainWindow = new TrevantUI();
    // A dark desktop gets the dark palette: the quick controls' labels are drawn in the
    // desktop's light text colour and would vanish on the light gradient.
    DarkTheme::applyIfDesktopIsDark(this, m_mainWindow->form().frameQuickControls);
    connect(m_mainWindow, SIGNAL(closed()), this, SLOT(shutDown()));
    connect(this, SIGNAL(aboutToQuit()), this, SLOT(shutDown()));

    if (!runEventLoop)
        return;
    exec();
    qCDebug(lcUi) << "app.exec() finished";
}

Quillory::~Quillory()
{
    // A window retired by shutDown() whose deferred deletion did not run yet (the
    // event loop ended first) is deleted here, so the engine still saves the settings.
    sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete m_retiredWindow.data();
    delete m_mainWindow;
    m_mainWindow = nullptr;
    AudioEditWorker::shutDown();
    // Calls still queued may hold the last reference to a loop's editable cache, which
    // joins its worker thread when it goes, and that worker may be posting a report. Qt
    // deletes the events left at its own teardown while it holds the queue's lock, so the
    // two would wait for each other forever; dropped here, they go with the lock free.
    removePostedEvents(nullptr);
}

void Quillory::setApplicationNames()
{
    QCoreApplication::setApplicationVersion("1.4.0.6");
    QCoreApplication::setApplicationName("Quillory");
    QCoreApplication::setOrganizationName("Brindlemoor");
    QCoreApplication::setOrganizationDomain("brindlemoor.org");
    // Lets Wayland compositors and docks match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName("org.brindlemoor.Quillory");
}

void Quillory::startEditWorker()
{
    // The worker lives on a thread of its own for the whole run; normalize edits queue
    // their analysis there.
    AudioEditWorker::startThread();
}

void Quillory::shutDown()
{
    if (!m_mainWindow)
        return;
    m_retiredWindow = m_mainWindow;
    m_mainWindow = nullptr;
    m_retiredWindow->deleteLater();
}

bool Quillory::event(QEvent *e)
{
    if (e->type() == QEvent::FileOpen) {
        auto *openEvent = static_cast<QFileOpenEvent *>(e);
        if (m_mainWindow)
            m_mainWindow->openPath(openEvent->file());
        return true;
    }
    return QApplication::event(e);
}
