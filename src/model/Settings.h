#pragma once

#include <QByteArray>
#include <QMap>
#include <QReadWriteLock>
#include <QString>

// The process-wide store of user preferences: text values by key, mirrored in
// settings.xml in the per-user configuration folder. Every reader converts and
// defaults its own keys.
//
// Any thread may call value() (the sound-card thread reads fade_in_out_slices);
// set() and save() run on the GUI thread.
class Settings {
public:
    // The one store, created and loaded from the file on the first call.
    static Settings &instance();

    // Stored text, or an empty string when the key is absent.
    QString value(const QString &key) const;
    void set(const QString &key, const QString &value);
    bool contains(const QString &key) const;

    // The shortest slice that slicing at transients makes, in milliseconds: keeps flams
    // and rolls from becoming slivers. A missing or unreadable value reads as the default.
    static constexpr double defaultTransientMinLengthMs = 30.0;
    static constexpr double maxTransientMinLengthMs = 1000.0;
    double transientMinLengthMs() const;
    // Clamped to [0, maxTransientMinLengthMs].
    void setTransientMinLengthMs(double ms);

    // Writes the whole store atomically; returns false (and logs) when it cannot.
    bool save() const;

    // The values of a settings document (numbers clamped to what the window allows);
    // false when the bytes are no readable document.
    static bool parse(const QByteArray &bytes, QMap<QString, QString> *values);

    // What went wrong reading the settings file at start, in a sentence for the musician
    // (the values are back to their defaults); empty when it was read or did not exist.
    QString loadProblem() const;

    // Full path of settings.xml.
    static QString filePath();

    // Tests only: forget the in-memory store so that the next instance() reloads.
    static void resetForTests();

    Settings(const Settings &) = delete;
    Settings &operator=(const Settings &) = delete;

private:
    Settings() = default;
    void load();

    mutable QReadWriteLock m_lock;
    QMap<QString, QString> m_values;
    // Set once by load(), before instance() returns.
    QString m_loadProblem;
};
