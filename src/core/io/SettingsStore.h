#pragma once

#include "core/model/AppSettings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

// Keeps the settings as one pretty-printed JSON file, "settings.json", in the data folder.
class SettingsStore
{
public:
    // A larger file is no hand-edited settings file; it is treated as unreadable without being read.
    static constexpr qint64 maxFileBytes = 1024 * 1024;

    // The data folder's "settings.json"; makes sure the data folder exists.
    SettingsStore();
    explicit SettingsStore(QString url);

    const QString& url() const { return m_url; }
    // Where an unparseable file is kept instead of being overwritten by the next save.
    QString corruptUrl() const { return m_url + QStringLiteral(".corrupt"); }

    // Writes the whole file atomically; false when it could not (callers may ignore it).
    bool save(const AppSettings& settings) const;
    // Missing file: defaults, silently. Unparseable or over maxFileBytes: a warning, the file moved to
    // corruptUrl(), defaults. Not a regular file (a FIFO, a folder): a warning, defaults, left alone.
    AppSettings load() const;
    // The same settings without a trace: no message, nothing moved, no folder made (the one-shot report).
    static AppSettings peek(const QString& url);

    // Pretty-printed, keys sorted at every level.
    static QByteArray encode(const AppSettings& settings);
    // Absent when the text is not JSON or its top level is not an object; otherwise field by field.
    static std::optional<AppSettings> decode(QByteArrayView bytes);

    // Whether the process was started with "--demo".
    static bool demoRequested(const QStringList& arguments);
    // A "--demo" run shows demo data and skips the welcome screen...
    static AppSettings appliedDemoOnLoad(AppSettings settings, bool demoRequested);
    // ...but never leaves demo mode switched on in the file.
    static AppSettings appliedDemoOnSave(AppSettings settings, bool demoRequested);

private:
    struct Contents
    {
        enum class Kind
        {
            decoded,
            unreadable, // missing, or no read possible
            notRegular,
            undecodable // not JSON, not an object, or over maxFileBytes
        };
        Kind kind;
        AppSettings settings; // the defaults unless decoded
    };
    static Contents read(const QString& url);

    QString m_url;
};
