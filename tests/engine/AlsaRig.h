#pragma once
// The sound rig of the engine tests: HOME points at a temporary folder whose
// .asoundrc makes ALSA's "default" device a file device writing interleaved float32
// to out.raw, or at a folder without any device at all. PortAudio must not be
// initialised while HOME changes (ALSA reads the configuration when it starts).

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <vector>

class AlsaRig {
public:
    enum Kind { FileDevice, NoDevice };
    explicit AlsaRig(Kind kind);
    ~AlsaRig();

    bool isValid() const { return m_dir.isValid(); }
    QString outputPath() const;
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    // Deletes what the device wrote so far (only while no stream runs).
    void clearOutput() const;

    // Frames of the output file from the first frame whose left or right sample is
    // not zero; at most maxFrames frames; offset receives that frame's index (-1 when silent).
    std::vector<float> soundFrom(long long maxFrames, long long *offset) const;
    // The whole file size in float samples.
    long long sampleCount() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
};
