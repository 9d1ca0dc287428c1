#include "Settings.h"

#include "FileValues.h"
#include "ModelLogging.h"

#include <QDateTime>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <memory>

namespace {
std::unique_ptr<Settings> &storage()
{
    static std::unique_ptr<Settings> s;
    return s;
}
QMutex &creationMutex()
{
    static QMutex m;
    return m;
}
QString configFolder() { return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation); }
} // namespace

Settings &Settings::instance()
{
    QMutexLocker locker(&creationMutex());
    auto &s = storage();
    if (!s) {
        s.reset(new Settings);
        s->load();
    }
    return *s;
}

void Settings::resetForTests()
{
    QMutexLocker locker(&creationMutex());
    storage().reset();
}

QString Settings::filePath() { return QString("%1/%2").arg(configFolder(), "settings.xml"); }

QString Settings::value(const QString &key) const
{
    QReadLocker locker(&m_lock);
    return m_values.value(key);
}

bool Settings::contains(const QString &key) const
{
    QReadLocker locker(&m_lock);
    return m_values.contains(key);
}

void Settings::set(const QString &key, const QString &value)
{
    QWriteLocker locker(&m_lock);
    m_values.insert(key, value);
}

namespace {
const char *const kTransientMinLengthKey = "transient_min_length_ms";
} // namespace

double Settings::transientMinLengthMs() const
{
    bool ok = false;
    const double ms = value(QLatin1String(kTransientMinLengthKey)).toDouble(&ok);
    // A hand-edited file may hold anything; a negative, huge or NaN length would make
    // picking drop every hit or none.
    if (!ok || !std::isfinite(ms) || ms < 0.0)
        return defaultTransientMinLengthMs;
    return std::min(ms, maxTransientMinLengthMs);
}

void Settings::setTransientMinLengthMs(double ms)
{
    if (!std::isfinite(ms))
        ms = defaultTransientMinLengthMs;
    ms = std::clamp(ms, 0.0, maxTransientMinLengthMs);
    set(QLatin1String(kTransientMinLengthKey), QString::number(ms, 'g', 6));
}

bool Settings::parse(const QByteArray &bytes, QMap<QString, QString> *values)
{
    QDomDocument doc;
    if (!FileValues::parseXml(bytes, &doc))
        return false;
    QMap<QString, QString> parsed;
    for (QDomNode n = doc.documentElement().firstChild(); !n.isNull(); n = n.nextSibling()) {
        const QDomElement e = n.toElement();
        if (!e.isNull())
            parsed.insert(e.tagName(), FileValues::setting(e.tagName(), e.text()));
    }
    if (values)
        *values = parsed;
    return true;
}

void Settings::load()
{
    QFile file(filePath());
    QMap<QString, QString> values;
    if (!file.open(QIODevice::ReadOnly) || !parse(file.readAll(), &values)) {
        file.close();
        // The file is the musician's: one that is there but cannot be read (damaged, edited
        // by hand, not readable by this user) is moved aside with the time in its name,
        // not written over, so that nothing in it is lost.
        if (QFileInfo(filePath()).isFile()) {
            const QString aside = filePath() + QStringLiteral(".unreadable-") +
                                  QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
            if (QFile::rename(filePath(), aside)) {
                qCWarning(lcModel) << "The settings file could not be read; it was kept as" << aside;
                m_loadProblem = QObject::tr("The settings file could not be read, so the preferences are back "
                                            "to their defaults. The old file was kept as %1.")
                                    .arg(QDir::toNativeSeparators(aside));
            } else {
                qCWarning(lcModel) << "The settings file could not be read nor moved aside:" << filePath();
                m_loadProblem = QObject::tr("The settings file %1 could not be read, so the preferences are "
                                            "back to their defaults for this session.")
                                    .arg(QDir::toNativeSeparators(filePath()));
                // Writing the defaults over it would lose what is in it.
                return;
            }
        }
        qCDebug(lcModel) << "Creating default settings";
        save();
        return;
    }
    QWriteLocker locker(&m_lock);
    m_values = values;
}

QString Settings::loadProblem() const { return m_loadProblem; }

bool Settings::save() const
{
    QDir().mkpath(configFolder());
    const QString path = filePath();
    qCDebug(lcModel) << "Saving settings" << path;

    QDomDocument doc("settings");
    QDomElement root = doc.createElement("settings");
    doc.appendChild(root);
    {
        QReadLocker locker(&m_lock);
        for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) {
            QDomElement e = doc.createElement(it.key());
            e.appendChild(doc.createTextNode(it.value()));
            root.appendChild(e);
        }
    }

    // QSaveFile writes beside the target and renames over it, so a crash mid-write
    // leaves the previous settings whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCDebug(lcModel) << "Failed to write settings.xml" << __FILE__ << __LINE__;
        return false;
    }
    const QByteArray bytes = doc.toByteArray(1);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        qCDebug(lcModel) << "Failed to write settings.xml" << __FILE__ << __LINE__;
        return false;
    }
    return true;
}
