#pragma once

#include "SliceExporter.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

class BankSampler;
class KitArchiveWriter;
class Trevant;

// Writes the slices of a loop as a kit a sampler or drum machine loads directly, with a
// MIDI file that plays the slices on the kit's notes in their original order and timing
// at the loop's tempo:
//   SFZ:           NAME.sfz beside "NAME samples/", plus NAME.mid
//   Hydrogen:      NAME.h2drumkit (a gzip-compressed tar of NAME/drumkit.xml and the
//                  samples, packed on a second thread while the samples are written),
//                  plus NAME.mid
//   DecentSampler: NAME.dspreset beside "NAME samples/", plus NAME.mid
// Slice n sounds on startNote + n - 1. The samples are written by the slice export
// itself (same files, fades and format as "Save Slices").
//
// Everything is written into a hidden staging folder next to the destination and moved
// into place only when complete, the samples first and the kit file last; a cancelled
// or failed export removes the staging folder and leaves the destination as it was.
//
// Threads: as SliceExporter.
class KitExporter : public SliceExporter {
    Q_OBJECT
public:
    ~KitExporter() override;
    enum class Kind { Sfz, Hydrogen, DecentSampler };
    struct Options {
        Kind kind = Kind::Sfz;
        QString folder;     // where the kit goes; created when missing
        QString name;       // the kit's name; the loop's base name when empty
        int startNote = 36; // the note of the first slice
        // Semitones per slice, in slice order (missing entries are 0), written where the
        // format can express it.
        QVector<int> slicePitch;
        bool overwrite = false; // replace an existing kit of that name (the user agreed)
    };

    // The slices between trimStart, the points inside the trim region and trimEnd, as
    // SliceExporter::sliceRanges makes them.
    KitExporter(SlicePtr loop, const QList<int> &points, int trimStart, int trimEnd, const Options &options,
                QObject *parent = nullptr);
    // The slicer's loop and slices; null without a loop or slices.
    static KitExporter *forSlicer(Trevant *slicer, const Options &options, QObject *parent = nullptr);

    // The pitch, in semitones, each slice of the slicer's loop sounds at, for slicePitch:
    // the loop's own pitch setting, which every slice plays with when auditioned, unless
    // a pad of the sampler bank plays exactly that slice (the loop's file, the slice as
    // its loop region); then that pad's pitch. bank may be null.
    static QVector<int> slicePitches(Trevant *slicer, BankSampler *bank);

    // The whole kit export in one call on the calling thread, for scripts and the command
    // line: slice format and fades from the preferences, as the window's export.
    // Returns the outcome; error gets the message for the user when it failed.
    static Status exportKit(SlicePtr loop, const QList<int> &points, int trimStart, int trimEnd,
                            const Options &options, QString *error = nullptr, QStringList *written = nullptr);

    // The paths the kit puts in its folder (kit file, samples folder if any, MIDI file).
    QStringList targets() const;
    // Those that exist already (ask before replacing them).
    QStringList existingKitTargets() const;
    // The kit file itself, full path.
    QString kitFile() const;
    Options options() const { return m_options; }
    // Replace an existing kit of that name (the user agreed); before run() only.
    void setOverwrite(bool on) { m_options.overwrite = on; }
    // Slices whose note would lie above 127 are left out of the kit's mapping and the
    // MIDI file (their samples are still written).
    int slicesWithoutNote() const;

    static QString kindName(Kind kind); // "SFZ", "Hydrogen", "DecentSampler"
    static QString kindKey(Kind kind);  // "sfz", "hydrogen", "decentsampler"
    static bool kindFromKey(const QString &key, Kind *kind);
    static QString kitSuffix(Kind kind); // "sfz", "h2drumkit", "dspreset"
    // A file-system-safe kit name ("/", control characters and what XML cannot carry
    // replaced, no leading dot).
    static QString cleanName(const QString &name);
    // The same, fit for the kit file of that kind as well: an SFZ file cannot carry "=",
    // "<" or ">" in a sample path (a player reads an opcode or a header there).
    static QString cleanName(const QString &name, Kind kind);

protected:
    bool prepareBatch(QString &error) override;
    bool jobWritten(const Job &job, const QByteArray &inMemory, QString &error) override;
    bool completeBatch(QString &error, bool &cancelled) override;
    void batchEnded(Status status) override;

private:
    QString sampleFolderName() const;
    bool writeDocuments(QString &error);
    bool moveIntoPlace(QString &error);
    void removeStaging();

    // Set before run(), read-only while it runs.
    Options m_options;
    QVector<Range> m_ranges;
    QStringList m_sampleFiles; // file names, in slice order
    double m_fBpm = 0.0;
    // Owned by the exporting thread while it runs.
    QString m_staging;
    std::unique_ptr<KitArchiveWriter> m_pPacker; // Hydrogen only
};
