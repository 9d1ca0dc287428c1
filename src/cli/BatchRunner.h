#pragma once

#include "CliOptions.h"
#include "Slice.h"

#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWaitCondition>
#include <atomic>

// Runs one subcommand over its input files on a few worker threads, one file per job,
// and prints each file's result in input order: results on standard output, failures on
// standard error, a progress bar on standard error only when it is a terminal.
//
// Threads: the main thread runs run() (output, progress, interruption); workers take
// the next file under the result lock and work on it alone.
class BatchRunner {
public:
    explicit BatchRunner(const CliOptions &options);
    BatchRunner(const BatchRunner &) = delete;
    BatchRunner &operator=(const BatchRunner &) = delete;

    // The exit status: 0 all done, 1 some file failed, 130 interrupted.
    int run();

    // Any thread, also a signal handler: asks the run to stop after whole files.
    static void requestStop();

private:
    struct Input {
        QString path;    // as given or as found in a folder
        QString outDir;  // slice only: where its slices go
        QString stem;    // slice only: the name its slice files start with
        QString problem; // set when the input cannot even be queued (unreadable folder)
    };
    struct Result {
        bool ready = false;
        bool failed = false;
        QString output;
        QString error;
    };

    void expandInputs();
    void work();
    Result process(const Input &input);
    QString tempoLine(const Input &input, const struct FileTempo &tempo) const;
    QString pointsLine(const Input &input, class LoopTask &task, QString *error);
    bool exportSlices(const Input &input, class LoopTask &task, QString *error, QString *warning);
    QString replacedInput(const QStringList &targets, QString *target) const;
    bool removeEarlierSlices(const Input &input, const QStringList &written, QString *error) const;
    void cancelActiveExports();
    void drawProgress(bool final);

    const CliOptions m_options;
    QList<Input> m_inputs;
    // slice: the canonical paths of every file the run reads, which it never writes over.
    QSet<QString> m_readFiles;

    QMutex m_lock; // guards everything below
    QWaitCondition m_resultReady;
    QList<Result> m_results;
    int m_next = 0;
    int m_done = 0;
    QString m_current;
    QList<SlicePtr> m_exporting;
};
