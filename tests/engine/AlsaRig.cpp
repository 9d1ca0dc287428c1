#include "AlsaRig.h"

#include <QFile>
#include <QTextStream>
#include <cmath>

AlsaRig::AlsaRig(Kind kind) : m_oldHome(qgetenv("HOME"))
{
    if (!m_dir.isValid())
        return;
    if (kind == FileDevice) {
        QFile rc(m_dir.filePath(".asoundrc"));
        if (rc.open(QIODevice::WriteOnly | QIODevice::Text)) {
            QTextStream out(&rc);
            out << "pcm.!default { type plug; slave.pcm \"capture\" }\n";
            out << "pcm.capture { type file; slave.pcm \"null\"; file \"" << outputPath()
                << "\"; format \"raw\" }\n";
        }
    }
    qputenv("HOME", QFile::encodeName(m_dir.path()));
}

AlsaRig::~AlsaRig() { qputenv("HOME", m_oldHome); }

QString AlsaRig::outputPath() const { return m_dir.filePath("out.raw"); }

void AlsaRig::clearOutput() const { QFile::remove(outputPath()); }

long long AlsaRig::sampleCount() const { return QFile(outputPath()).size() / qint64(sizeof(float)); }

std::vector<float> AlsaRig::soundFrom(long long maxFrames, long long *offset) const
{
    *offset = -1;
    std::vector<float> result;
    QFile file(outputPath());
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const qint64 blockFrames = 1 << 16;
    std::vector<float> block(size_t(blockFrames) * 2);
    long long frameBase = 0;
    while (true) {
        const qint64 got = file.read(reinterpret_cast<char *>(block.data()), qint64(block.size() * sizeof(float)));
        if (got <= 0)
            break;
        const long long frames = got / qint64(2 * sizeof(float));
        for (long long f = 0; f < frames; ++f) {
            if (*offset < 0 && (block[size_t(2 * f)] != 0.0f || block[size_t(2 * f + 1)] != 0.0f))
                *offset = frameBase + f;
            if (*offset >= 0) {
                result.push_back(block[size_t(2 * f)]);
                result.push_back(block[size_t(2 * f + 1)]);
                if ((long long)result.size() >= 2 * maxFrames)
                    return result;
            }
        }
        frameBase += frames;
    }
    return result;
}
