#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Where Claude Code keeps its OAuth credential document. On Linux that is a file; a keychain backend for
// macOS fits the same shape.
class ClaudeCredentialStore
{
public:
    virtual ~ClaudeCredentialStore() = default;

    // Where the credential lives, for people to read.
    virtual QString location() const = 0;
    // The whole stored document; nothing when there is none or it cannot be read.
    virtual std::optional<QByteArray> read() const = 0;
    // Whether a write could succeed now. A refresh consumes the old refresh token, so a refresh whose
    // result cannot be stored must not happen at all.
    virtual bool canWrite(QString* why) const = 0;
    // Replaces the whole document; `error` says why not.
    virtual bool write(const QByteArray& document, QString* error) = 0;
};
