#pragma once

#include "core/io/AtomicFile.h"
#include "providers/claude/ClaudeCredentialStore.h"

// Claude Code's ".credentials.json" in its config folder. Writes replace the file atomically with mode 0600,
// through a symbolic link to its target.
class ClaudeCredentialFile : public ClaudeCredentialStore
{
public:
    // The config folder's credential file when empty.
    explicit ClaudeCredentialFile(QString path = {});

    QString location() const override;
    std::optional<QByteArray> read() const override;
    bool reserve(qint64 bytes, QString* why) override;
    void release() override;
    bool write(const QByteArray& document, QString* error) override;

private:
    QString m_path;
    AtomicFile::Reservation m_room;
};
