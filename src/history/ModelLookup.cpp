#include "history/ModelLookup.h"

#include "core/io/FileIo.h"
#include "core/text/TerminalText.h"
#include "core/text/Zone.h"
#include "history/TranscriptTime.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 blockSize = 256 * 1024;
constexpr qint64 tailLimit = 4 * 1024 * 1024;

std::optional<ModelSighting> sighting(QByteArrayView piece)
{
    if (!piece.contains(QByteArrayView("\"model\"")))
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(piece.toByteArray());
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    const QString model =
        root.value(QLatin1String("message")).toObject().value(QLatin1String("model")).toString();
    // "<synthetic>" marks lines Claude Code writes itself, not a model's reply.
    if (model.isEmpty() || model == QLatin1String("<synthetic>"))
        return std::nullopt;
    const QJsonValue stamp = root.value(QLatin1String("timestamp"));
    if (!stamp.isString())
        return std::nullopt;
    const QByteArray text = stamp.toString().toUtf8();
    const auto ms =
        TranscriptTime::parseMs(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
    if (!ms)
        return std::nullopt;
    // A transcript's model name is shown in the panel, the terminal and the status line: no controls.
    return ModelSighting{TerminalText::name(model), QDateTime::fromMSecsSinceEpoch(*ms, Zone::utc())};
}

} // namespace

namespace ModelLookup {

std::optional<ModelSighting> tailModel(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info = {};
    std::optional<ModelSighting> answer;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        const qint64 size = info.st_size;
        qint64 cursor = size;
        QByteArray carry;
        while (!answer && cursor > 0 && size - cursor < tailLimit) {
            const qint64 start = std::max<qint64>(0, cursor - blockSize);
            const auto block = FileIo::readAt(fd, start, cursor - start);
            if (!block)
                break;
            const QByteArray buffer = *block + carry;
            // Up to the first line feed the block may hold the end of a line that began in the block before.
            qsizetype from = 0;
            if (start > 0) {
                const qsizetype firstBreak = buffer.indexOf('\n');
                from = firstBreak < 0 ? buffer.size() : firstBreak + 1;
                carry = buffer.first(firstBreak < 0 ? buffer.size() : firstBreak);
            } else {
                carry.clear();
            }
            QList<QByteArrayView> pieces;
            while (from < buffer.size()) {
                qsizetype end = buffer.indexOf('\n', from);
                if (end < 0)
                    end = buffer.size();
                if (end > from)
                    pieces.append(QByteArrayView(buffer).sliced(from, end - from));
                from = end + 1;
            }
            for (auto piece = pieces.crbegin(); piece != pieces.crend() && !answer; ++piece)
                answer = sighting(*piece);
            cursor = start;
        }
    }
    ::close(fd);
    return answer;
}

std::optional<ModelSighting> latest(std::vector<TranscriptFiles::File> files)
{
    std::erase_if(files, [](const TranscriptFiles::File& file) { return file.subagent; });
    std::stable_sort(
        files.begin(), files.end(),
        [](const TranscriptFiles::File& a, const TranscriptFiles::File& b) { return a.mtime > b.mtime; });
    std::optional<ModelSighting> best;
    for (std::size_t i = 0; i < files.size() && i < 3; ++i) {
        const auto found = tailModel(files[i].path);
        if (found && (!best || found->at > best->at))
            best = found;
    }
    return best;
}

} // namespace ModelLookup
