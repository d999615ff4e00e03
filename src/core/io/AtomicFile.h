#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>

#include <sys/types.h>

// Replacing a file so that a crash or a full disk leaves either the old content or the new, never a mix.
namespace AtomicFile {

class Reservation;

struct Options
{
    // Permission bits of the result. Unset: an existing file of this user's keeps its own, any other result
    // is private (0600).
    std::optional<mode_t> mode;
    // Whether to wait until the file and its folder entry are on disk. Only for a file whose loss or tearing
    // in a crash is detected and harmless (a checksummed cache) may it be false.
    bool durable = true;
    // Whether a symbolic link of another user is followed too. Off, such a link at the path or at any folder
    // on the way to it is an error (root's aside): the write would land wherever that user pointed it (the
    // rule the kernel applies to links in sticky folders). Only for a file whose links are another program's
    // own business, such as Claude Code's settings and credentials.
    bool followForeignLinks = false;
    // Room taken earlier for this target: the write fills its temporary file instead of making one.
    Reservation* reservation = nullptr;
};

// Room for a later write, taken now: a temporary file beside the target written at full size and synced, so
// that the write that fills it later cannot fail for want of space (a full disk is invisible to access()).
// Given back when it goes unused.
class Reservation
{
public:
    Reservation() = default;
    ~Reservation();
    Reservation(const Reservation&) = delete;
    Reservation& operator=(const Reservation&) = delete;

    // Takes `bytes` of room for a write to `path` (resolving links as a write with `options` would); false,
    // with the system's reason in `error`, when the room is not there.
    bool take(const QString& path, qint64 bytes, QString* error, const Options& options = {});
    void release();
    bool held() const { return m_fd >= 0; }

private:
    friend bool write(const QString&, const std::function<bool(int)>&, QString*, const Options&);
    QString m_target;
    QByteArray m_temporary;
    int m_fd = -1;
};

// Writes `bytes` to a temporary file in the target's folder, syncs it, renames it over the target and syncs
// the folder (the syncs only when durable). A symbolic link at `path` is followed, so the link stays and its
// target is replaced. Only a regular file is replaced: anything else at the path (a FIFO, a device, a folder)
// is an error and is left alone. On failure the target is unchanged, the temporary file is removed and
// `error` (when given) holds the reason in the system's words ("No space left on device"). The temporary
// file is close-on-exec, so that no child process started meanwhile keeps a handle on it.
bool write(const QString& path, QByteArrayView bytes, QString* error = nullptr, const Options& options = {});

// The same with the content written by `fill` onto the temporary file's descriptor, so that a large file need
// not be built in memory first; `fill` returns false (with errno set) when it fails.
bool write(const QString& path, const std::function<bool(int fd)>& fill, QString* error = nullptr,
           const Options& options = {});

// Where `path` finally points after following symbolic links (the path itself when it is none); a link
// whose target does not exist yet resolves to that target.
QString resolveLinks(const QString& path);

} // namespace AtomicFile
