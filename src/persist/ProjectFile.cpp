#include "ProjectFile.h"

#include "BankSampler.h"
#include "FileValues.h"
#include "PersistLogging.h"
#include "SliceEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {
QString tr(const char *text) {
    return QCoreApplication::translate("ProjectFile", text);
}

QString native(const QString &path) {
    return QDir::toNativeSeparators(path);
}

// Every number goes through FileValues, which clamps it into the window's range.
int intAttribute(const QDomElement &e, const QString &name, FileValues::Range range, int fallback) {
    if (!e.hasAttribute(name))
        return fallback;
    return FileValues::toInt(e.attribute(name), range, fallback);
}

double doubleAttribute(const QDomElement &e, const QString &name, FileValues::Range range, double fallback) {
    if (!e.hasAttribute(name))
        return fallback;
    return FileValues::toDouble(e.attribute(name), range, fallback);
}
} // namespace

QString ProjectFile::withProjectSuffix(const QString &path) {
    if (path.endsWith(QLatin1String(".qlx"), Qt::CaseInsensitive))
        return path;
    return path + QLatin1String(".qlx");
}

void ProjectFile::writeBank(QDomDocument &doc, QDomElement &parent, BankSampler *bank,
                            const QString &projectFolder) {
    QDomElement element = doc.createElement(QStringLiteral("BankSampler"));
    parent.appendChild(element);
    if (!bank)
        return;
    const QDir folder(projectFolder);
    for (int i = 0; i < BankSampler::kPadCount; ++i) {
        const SlicePtr pad = bank->pad(i);
        if (!pad)
            continue;
        QDomElement sample = doc.createElement(QStringLiteral("Sample"));
        sample.setAttribute(QStringLiteral("filename"),
                            folder.relativeFilePath(QFileInfo(pad->fileName()).absoluteFilePath()));
        sample.setAttribute(QStringLiteral("index"), i);
        sample.setAttribute(QStringLiteral("semitone"), pad->pitch());
        sample.setAttribute(QStringLiteral("timestretchratio"), pad->timeStretchRatio());
        sample.setAttribute(QStringLiteral("loopmode"), pad->loopMode());
        sample.setAttribute(QStringLiteral("loopstart"), uint(std::max(0, pad->loopStart())));
        sample.setAttribute(QStringLiteral("loopend"), uint(std::max(0, pad->loopEnd())));
        sample.setAttribute(QStringLiteral("gain"), pad->gain());
        sample.setAttribute(QStringLiteral("reversed"), pad->isReversed() ? 1 : 0);
        sample.setAttribute(QStringLiteral("chokegroup"), pad->chokeGroup());
        element.appendChild(sample);
    }
}

bool ProjectFile::save(BankSampler *bank, int bpm, const QString &path, QString *error,
                       QString *writtenPath) {
    qCDebug(lcPersist) << "Saving project";
    const QString target = withProjectSuffix(path);
    QDomDocument doc(QStringLiteral("project"));
    QDomElement root = doc.createElement(QStringLiteral("project"));
    doc.appendChild(root);
    QDomElement engine = doc.createElement(QStringLiteral("Engine"));
    engine.setAttribute(QStringLiteral("bpm"), uint(std::max(0, bpm)));
    root.appendChild(engine);
    writeBank(doc, root, bank, QFileInfo(target).absolutePath());

    const QByteArray bytes = doc.toByteArray(1);
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        qCDebug(lcPersist) << "Failed to write" << target << __FILE__ << __LINE__;
        if (error)
            *error = tr("%1 could not be written: %2").arg(native(target), file.errorString());
        return false;
    }
    if (writtenPath)
        *writtenPath = target;
    return true;
}

bool ProjectFile::save(SliceEngine *engine, const QString &path, QString *error, QString *writtenPath) {
    return save(engine ? engine->samplerBank() : nullptr, engine ? engine->engineTempo() : 120, path, error,
                writtenPath);
}

QVector<ProjectFile::Pad> ProjectFile::readBank(const QDomElement &element, const QString &projectFolder) {
    QVector<Pad> pads;
    const QDir folder(projectFolder);
    for (QDomElement e = element.firstChildElement(QStringLiteral("Sample")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("Sample"))) {
        Pad pad;
        // An index far out of range must not land on a pad at either end.
        pad.index = intAttribute(e, QStringLiteral("index"), {-1, BankSampler::kPadCount}, 0);
        if (pad.index < 0 || pad.index >= BankSampler::kPadCount)
            continue;
        // filePath keeps a stored absolute path as it is and joins a relative one.
        pad.fileName = QDir::cleanPath(folder.filePath(e.attribute(QStringLiteral("filename"))));
        pad.semitone = intAttribute(e, QStringLiteral("semitone"), FileValues::kPitchSemitones, 0);
        pad.timeStretchRatio =
            doubleAttribute(e, QStringLiteral("timestretchratio"), FileValues::kTimeStretchRatio, 1.0);
        pad.loopMode = intAttribute(e, QStringLiteral("loopmode"), FileValues::kLoopMode, 0);
        pad.loopStart = intAttribute(e, QStringLiteral("loopstart"), FileValues::kPosition, 0);
        pad.loopEnd = intAttribute(e, QStringLiteral("loopend"), FileValues::kPosition, 0);
        pad.gain = float(doubleAttribute(e, QStringLiteral("gain"), FileValues::kPadGain, 1.0));
        pad.reversed = intAttribute(e, QStringLiteral("reversed"), {0, 1}, 0) != 0;
        pad.chokeGroup = e.attribute(QStringLiteral("chokegroup"), QStringLiteral("None"));
        if (pad.chokeGroup.isEmpty())
            pad.chokeGroup = QStringLiteral("None");
        pads.append(pad);
    }
    return pads;
}

bool ProjectFile::read(const QString &path, QVector<Step> *steps, QString *error) {
    const auto fail = [&](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(lcPersist) << "Failed to open" << path;
        return fail(tr("%1 could not be opened: %2").arg(native(path), file.errorString()));
    }
    if (file.size() > kMaxFileBytes) {
        qCDebug(lcPersist) << "Invalid project file:" << path;
        return fail(tr("%1 is too large to be a Quillory project.").arg(native(path)));
    }
    const QByteArray bytes = file.read(kMaxFileBytes + 1);
    file.close();
    return fromBytes(bytes, path, steps, error);
}

bool ProjectFile::fromBytes(const QByteArray &bytes, const QString &path, QVector<Step> *steps,
                            QString *error) {
    const auto fail = [&](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    QDomDocument doc;
    QString message;
    int line = 0;
    int column = 0;
    if (bytes.size() > kMaxFileBytes || !FileValues::parseXml(bytes, &doc, &message, &line, &column)) {
        qCDebug(lcPersist) << "Invalid project file:" << path;
        if (bytes.size() > kMaxFileBytes)
            return fail(tr("%1 is too large to be a Quillory project.").arg(native(path)));
        return fail(tr("%1 is not a Quillory project or is damaged (line %2: %3).")
                        .arg(native(path))
                        .arg(line)
                        .arg(message));
    }

    const QString folder = QFileInfo(path).absolutePath();
    QVector<Step> result;
    const QDomElement root = doc.documentElement();
    for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        Step step;
        if (e.tagName() == QLatin1String("Engine")) {
            step.kind = Step::Tempo;
            step.bpm = intAttribute(e, QStringLiteral("bpm"), FileValues::kTempo, 120);
        } else if (e.tagName() == QLatin1String("BankSampler")) {
            step.kind = Step::Bank;
            step.pads = readBank(e, folder);
        } else {
            continue;
        }
        result.append(step);
    }
    if (result.isEmpty()) {
        qCDebug(lcPersist) << "Invalid project file:" << path;
        return fail(tr("%1 is not a Quillory project: it holds neither a tempo nor a sampler bank.")
                        .arg(native(path)));
    }
    if (steps)
        *steps = result;
    return true;
}

void ProjectFile::applyBank(BankSampler *bank, const QVector<Pad> &pads, QStringList *missingFiles) {
    bank->reset();
    for (const Pad &pad : pads) {
        bank->loadSample(pad.index, pad.fileName, pad.semitone, pad.timeStretchRatio, pad.loopMode,
                         pad.loopStart, pad.loopEnd, pad.gain, pad.reversed, pad.chokeGroup);
        const SlicePtr loaded = bank->pad(pad.index);
        if (missingFiles && (!loaded || loaded->length() <= 0) && !missingFiles->contains(pad.fileName))
            missingFiles->append(pad.fileName);
    }
}

bool ProjectFile::load(BankSampler *bank, const std::function<void(int)> &setTempo, const QString &path,
                       QString *error, QStringList *missingFiles) {
    QVector<Step> steps;
    if (!read(path, &steps, error))
        return false;
    for (const Step &step : qAsConst(steps)) {
        if (step.kind == Step::Tempo) {
            if (setTempo)
                setTempo(step.bpm);
        } else if (bank) {
            applyBank(bank, step.pads, missingFiles);
        }
    }
    return true;
}

bool ProjectFile::load(SliceEngine *engine, const QString &path, QString *error, QStringList *missingFiles) {
    if (!engine)
        return false;
    return load(
        engine->samplerBank(), [engine](int bpm) { engine->setEngineTempo(bpm); }, path, error, missingFiles);
}
