#include "platform/FolderOpener.h"

#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <memory>

namespace FolderOpener {

void open(const QString& folder, QObject* context, std::function<void(bool)> done)
{
    auto* process = new QProcess(context);
    process->setProgram(QStringLiteral("xdg-open"));
    process->setArguments({folder});
    // Answered once: by the exit, a failed start, or the wait running out.
    auto answer = std::make_shared<std::function<void(bool)>>(std::move(done));
    const auto finish = [answer](bool opened) {
        if (!*answer)
            return;
        const auto callback = std::move(*answer);
        *answer = nullptr;
        callback(opened);
    };
    QObject::connect(process, &QProcess::finished, context,
                     [process, finish](int code, QProcess::ExitStatus status) {
                         finish(status == QProcess::NormalExit && code == 0);
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, context,
                     [process, finish](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         finish(false);
                         process->deleteLater();
                     });
    QTimer::singleShot(answerWaitMs, context, [finish] { finish(true); });
    process->start();
}

} // namespace FolderOpener
