#include "platform/FolderOpener.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QObject>

#include <optional>

// What the panel says after "Open data folder" follows xdg-open's answer, not the mere start of it.
TEST(FolderOpener, SaysWhetherTheOpenerOpenedTheFolder)
{
    const QByteArray savedPath = qgetenv("PATH");
    const QString bin = TestSupport::homePath() + QStringLiteral("/opener-bin");
    QDir().mkpath(bin);
    const QString opener = bin + QStringLiteral("/xdg-open");
    const std::pair<const char*, std::optional<bool>> rows[] = {
        {"#!/bin/sh\n[ -d \"$1\" ] && exit 0; exit 2\n", true},
        {"#!/bin/sh\nexit 4\n", false},            // "the action failed"
        {"#!/bin/sh\nexec /bin/sleep 30\n", true}, // an opener that stays with its window
        {nullptr, false},                          // no xdg-open at all
    };
    qputenv("PATH", bin.toLocal8Bit());
    for (const auto& [script, expected] : rows) {
        QFile::remove(opener);
        if (script) {
            ASSERT_TRUE(TestSupport::writeFile(opener, script));
            QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        QObject context;
        std::optional<bool> opened;
        FolderOpener::open(TestSupport::homePath(), &context, [&](bool result) { opened = result; });
        EXPECT_FALSE(opened.has_value()) << "answered before returning";
        ASSERT_TRUE(
            TestSupport::waitFor([&] { return opened.has_value(); }, FolderOpener::answerWaitMs + 2000));
        EXPECT_EQ(opened, expected) << (script ? script : "none");
    }
    qputenv("PATH", savedPath);
}
