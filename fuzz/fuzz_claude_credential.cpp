// Feeds arbitrary bytes, as Claude Code's credential file, to the credential reader and the write-back: a
// write-back changes the three token members and nothing else, and what it writes reads back.
#include "providers/claude/ClaudeCredential.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_claude_credential: %s\n", what);
    std::abort();
}

QJsonObject withoutTokens(QJsonObject document)
{
    QJsonObject oauth = document.value(QLatin1StringView("claudeAiOauth")).toObject();
    for (const char* key : {"accessToken", "refreshToken", "expiresAt"})
        oauth.remove(QLatin1StringView(key));
    document.insert(QLatin1StringView("claudeAiOauth"), oauth);
    return document;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<ClaudeCredential> credential = ClaudeCredential::parse(bytes);
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (credential && !document.isObject())
        fail("a credential from a document that is not an object");
    if (credential && credential->raw != document.object())
        fail("the credential does not keep its whole document");

    const qint64 expiresAtMs = 1796580000123;
    const std::optional<QByteArray> patched = ClaudeCredential::patched(
        bytes, QStringLiteral("new-access"), QStringLiteral("new-refresh"), expiresAtMs);
    if (patched.has_value() != document.isObject())
        fail("a write-back must work on every object and on nothing else");
    if (!patched)
        return 0;
    const std::optional<ClaudeCredential> again = ClaudeCredential::parse(*patched);
    if (!again || again->accessToken != QLatin1String("new-access") ||
        again->refreshToken != QLatin1String("new-refresh") ||
        again->expiresAt.toMSecsSinceEpoch() != expiresAtMs)
        fail("the written credential does not read back as written");
    if (withoutTokens(again->raw) != withoutTokens(document.object()))
        fail("the write-back changed a member it does not own");
    return 0;
}
