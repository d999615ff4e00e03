// Feeds arbitrary bytes, as the OAuth token endpoint's answer, to the token reader, and writes an accepted
// answer into a credential document the way a refresh does: the result must read back as that credential.
#include "providers/claude/ClaudeCredential.h"
#include "providers/claude/ClaudeTokenAnswer.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_claude_token: %s\n", what);
    std::abort();
}

const QByteArray stored =
    R"({"claudeAiOauth":{"accessToken":"a","refreshToken":"r","expiresAt":1796580000000,)"
    R"("scopes":["user:inference"]},"other":{"kept":true}})";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::optional<ClaudeTokenAnswer> answer =
        ClaudeTokenAnswer::parse(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!answer)
        return 0;
    if (answer->expiresInSeconds && !std::isfinite(*answer->expiresInSeconds))
        fail("accepted a lifetime that is not finite");
    if (answer->accessToken.isEmpty() || !answer->expiresInSeconds)
        return 0;
    const qint64 nowMs = 1796580000000;
    const qint64 expiresAtMs = nowMs + std::llround(*answer->expiresInSeconds * 1000.0);
    const QString refresh = answer->refreshToken.isEmpty() ? QStringLiteral("r") : answer->refreshToken;
    const std::optional<QByteArray> document =
        ClaudeCredential::patched(stored, answer->accessToken, refresh, expiresAtMs);
    if (!document)
        fail("a stored document could not take the new tokens");
    const std::optional<ClaudeCredential> again = ClaudeCredential::parse(*document);
    if (!again)
        fail("the written credential does not read back");
    if (again->accessToken != answer->accessToken || again->refreshToken != refresh ||
        again->expiresAt.toMSecsSinceEpoch() != expiresAtMs)
        fail("the written credential reads back different");
    if (again->raw.value(QLatin1StringView("other")).toObject().value(QLatin1StringView("kept")) != true)
        fail("a member the refresh does not own was lost");
    return 0;
}
