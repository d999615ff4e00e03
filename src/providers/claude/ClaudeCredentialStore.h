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
    // Takes room now for the next write of up to `bytes`, so that it cannot fail for want of space; `why`
    // says why not. A refresh consumes the old refresh token, so a refresh whose result cannot be stored
    // must not happen at all.
    virtual bool reserve(qint64 bytes, QString* why) = 0;
    // Gives back room reserved and not used.
    virtual void release() = 0;
    // Replaces the whole document, in the reserved room when there is some; `error` says why not.
    virtual bool write(const QByteArray& document, QString* error) = 0;
};
