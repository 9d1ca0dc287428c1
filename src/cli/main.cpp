#include "BatchRunner.h"
#include "CliOptions.h"
#include "PendingFile.h"
#include "Settings.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdlib>
#include <pthread.h>
#include <thread>
#include <cstdio>
#include <iostream>

namespace {
// The core logs its progress for the window's developers; on the command line standard
// error carries only the user's messages, so only real warnings get through.
void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message) {
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    std::fprintf(stderr, "quillory-cli: %s\n", message.toLocal8Bit().constData());
}

// Ctrl+C, a kill or a closed terminal: the first asks for a clean stop (whole files
// only), a second ends the program at once, as Unix programs do. Files are written under
// temporary names and moved into place whole, so even then none is left half-written
// under its final name; the temporary files are removed on the way out. The signals are
// taken by this thread with sigwait, so that the second one may take locks and remove
// folders, which a signal handler may not.
void watchSignals(sigset_t stopSignals) {
    int received = 0;
    for (int count = 0;; ++count) {
        if (sigwait(&stopSignals, &received) != 0)
            continue;
        if (count == 0) {
            BatchRunner::requestStop();
            continue;
        }
        PendingFile::abandonAll();
        std::fflush(stdout);
        std::fputs("quillory-cli: stopped at once; only whole files were written\n", stderr);
        std::_Exit(130);
    }
}

void printText(FILE *stream, const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}
} // namespace

int main(int argc, char *argv[]) {
    // Blocked before any thread starts, so that every thread inherits the mask, and
    // taken by the watcher alone.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    // A closed terminal ends a long run as Ctrl+C does: whole files only. Unless the run
    // was started to outlive it (nohup), which leaves the signal ignored.
    struct sigaction hangup {};
    if (sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler != SIG_IGN)
        sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::thread(watchSignals, stopSignals).detach();
    qInstallMessageHandler(messageHandler);
    // The compressed-audio decoder reports its own failures on std::cerr for the window's
    // developers; here the same failure already gets its "quillory-cli: PATH: reason"
    // line, and a second, unprefixed one would break scripts that read standard error.
    // The program's own messages go through stdio, which this leaves alone.
    std::cerr.rdbuf(nullptr);
    QCoreApplication app(argc, argv);
    // The same preferences as the window (export format, fades).
    QCoreApplication::setApplicationName(QStringLiteral("Quillory"));
    QCoreApplication::setOrganizationName(QStringLiteral("Brindlemoor"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("brindlemoor.org"));

    // Asked before any subcommand parsing, so that packaging checks and bug reports get
    // an answer whatever the subcommands accept.
    if (app.arguments().mid(1) == QStringList{QStringLiteral("--version")}) {
        printText(stdout, QStringLiteral("quillory-cli %1\n").arg(QStringLiteral(QUILLORY_VERSION)));
        return 0;
    }

    CliOptions options;
    QString error;
    if (!parseCommandLine(app.arguments().mid(1), &options, &error)) {
        printText(stderr, QStringLiteral("quillory-cli: %1\n\n").arg(error));
        printText(stderr, usageText(options.command));
        return 2;
    }
    if (options.help) {
        printText(stdout, usageText(options.command));
        return 0;
    }

    // Snapping follows the command line, not the window's preference; the change stays
    // in memory and never reaches the preferences file. Tempo and info read no
    // preference, so they do not load them.
    if (options.command == CliOptions::Command::Points || options.command == CliOptions::Command::Slice)
        Settings::instance().set(QStringLiteral("snap_to_zero_crossings"),
                                 options.snap ? QStringLiteral("1") : QStringLiteral("0"));

    // A file growing past the shell's file size limit (ulimit -f) would otherwise end the
    // program on the spot, its temporary file left behind and the rest of the batch
    // undone; ignored, the write fails with EFBIG and that one file is reported.
    std::signal(SIGXFSZ, SIG_IGN);

    BatchRunner runner(options);
    return runner.run();
}
