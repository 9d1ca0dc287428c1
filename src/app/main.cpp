#include "AudioEdit.h"
#include "Quillory.h"

#include <QSurfaceFormat>

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(quillory);
    Q_INIT_RESOURCE(views);
    Q_INIT_RESOURCE(dialogs);
    registerAudioEditMetaType();

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);

    // The waveform views never wait for vertical sync.
    QSurfaceFormat format;
    format.setSwapInterval(0);
    QSurfaceFormat::setDefaultFormat(format);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

    {
        Quillory app(argc, argv);
    }
    return 0;
}
