#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

class BankSampler;
class QDomDocument;
class QDomElement;
class SliceEngine;

// Project files (.qlx): the master tempo and the sixteen pads of the sampler bank,
// each with its audio file (stored relative to the project's folder) and its settings.
// The slicer's loop is not part of a project.
//
// A file is read and checked completely before anything changes: a missing, damaged,
// truncated or oversized file loads nothing and says why. Saving is atomic.
// GUI thread only.
class ProjectFile {
public:
    static constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

    // One Sample element as read, defaults applied.
    struct Pad {
        QString fileName; // full path: the project folder joined with the stored path
        int index = 0;
        int semitone = 0;
        double timeStretchRatio = 1.0;
        int loopMode = 0;
        int loopStart = 0;
        int loopEnd = 0; // 0: the sample's length
        float gain = 1.0f;
        bool reversed = false;
        QString chokeGroup = QStringLiteral("None");
    };
    // One element of the project, in document order.
    struct Step {
        enum Kind { Tempo, Bank } kind = Tempo;
        int bpm = 120;
        QVector<Pad> pads;
    };

    // Saves the engine's master tempo and sampler bank. ".qlx" is added unless the
    // path ends with it in any case; writtenPath receives the path used.
    static bool save(SliceEngine *engine, const QString &path, QString *error,
                     QString *writtenPath = nullptr);
    static bool save(BankSampler *bank, int bpm, const QString &path, QString *error,
                     QString *writtenPath = nullptr);

    // Loads a project into the engine: the master tempo, then the bank, which is emptied
    // first. missingFiles receives the samples whose audio could not be read (their
    // pads hold empty loops). False with a message when the file is refused; then
    // nothing has changed.
    static bool load(SliceEngine *engine, const QString &path, QString *error,
                     QStringList *missingFiles = nullptr);
    static bool load(BankSampler *bank, const std::function<void(int)> &setTempo, const QString &path,
                     QString *error, QStringList *missingFiles = nullptr);

    // Reads and checks a file without changing anything.
    static bool read(const QString &path, QVector<Step> *steps, QString *error);
    // The checks of read() on the bytes of a file; path names it in messages and gives
    // the folder stored sample paths are relative to.
    static bool fromBytes(const QByteArray &bytes, const QString &path, QVector<Step> *steps, QString *error);

    // The bank's part of the document: a BankSampler element under parent, one Sample
    // per loaded pad, file names relative to projectFolder.
    static void writeBank(QDomDocument &doc, QDomElement &parent, BankSampler *bank,
                          const QString &projectFolder);
    // The Sample elements of a BankSampler element, with full paths under projectFolder.
    // Samples without a pad to go to (index outside 0 … 15) are skipped.
    static QVector<Pad> readBank(const QDomElement &element, const QString &projectFolder);
    // Empties the bank and loads the pads, a later pad of the same index winning.
    static void applyBank(BankSampler *bank, const QVector<Pad> &pads, QStringList *missingFiles);

    static QString withProjectSuffix(const QString &path);
};
