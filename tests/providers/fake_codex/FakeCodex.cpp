// A stand-in for `codex app-server` that plays one scripted conversation:
//   codex app-server [scenario [wire-log]]
// Every line it receives is appended to the wire log, so tests can read exactly what was sent.
#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string scenario;
std::FILE* wireLog = nullptr;

void writeRaw(const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, data, static_cast<size_t>(left));
        if (n <= 0)
            std::_Exit(9);
        data += n;
        left -= n;
    }
}

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void emitLine(const QJsonObject& object)
{
    writeRaw(json(object) + '\n');
}

QJsonObject window(double used, double minutes, double resetsAt)
{
    return {{"usedPercent", used}, {"windowDurationMins", minutes}, {"resetsAt", resetsAt}};
}

// A payload whose five-hour window reads `fiveHour` percent and whose weekly window reads `week` percent.
QJsonObject payload(double fiveHour, double week, const QString& limitName = QStringLiteral("Codex"))
{
    return {{"rateLimits", QJsonObject{{"limitId", "codex"},
                                       {"limitName", limitName},
                                       {"primary", window(fiveHour, 300, 1796590000)},
                                       {"secondary", window(week, 10080, 1797000000)},
                                       {"planType", "pro"},
                                       {"credits", QJsonValue::Null}}}};
}

QJsonObject push(const QJsonObject& params)
{
    return {{"method", "account/rateLimits/updated"}, {"params", params}, {"emittedAtMs", 1796580776450.0}};
}

QJsonObject result(const QJsonValue& id, const QJsonObject& value)
{
    return {{"id", id}, {"result", value}};
}

QJsonObject error(const QJsonValue& id, int code, const QString& message)
{
    return {{"error", QJsonObject{{"code", code}, {"message", message}}}, {"id", id}};
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void afterHandshake()
{
    if (scenario == "push") {
        emitLine({{"method", "configWarning"}, {"params", QJsonObject{{"summary", "ignored"}}}});
        emitLine(push(payload(55, 23)));
    } else if (scenario == "login") {
        emitLine({{"method", "account/login/completed"}, {"params", QJsonObject{{"success", true}}}});
    } else if (scenario == "split") {
        // One line in three writes, cut inside the JSON and inside the two-byte "ü".
        const QByteArray line = json(push(payload(11, 1, QStringLiteral("Fünf € Stunden")))) + '\n';
        const qsizetype cut = line.indexOf("\xc3\xbc") + 1;
        writeRaw(line.left(20));
        sleepMs(60);
        writeRaw(line.mid(20, cut - 20));
        sleepMs(60);
        writeRaw(line.mid(cut));
        // Two lines and a blank one in a single write.
        writeRaw(json(push(payload(12, 2))) + "\n\n" + json(push(payload(13, 3))) + '\n');
        // A line of several megabytes, written in pieces.
        QJsonObject big = push(payload(14, 4));
        big.insert("padding", QString(6 * 1024 * 1024, QLatin1Char('x')));
        const QByteArray huge = json(big) + '\n';
        for (qsizetype at = 0; at < huge.size(); at += 100000)
            writeRaw(huge.mid(at, 100000));
    } else if (scenario == "garbage") {
        writeRaw("hello, this is not JSON\n");
        writeRaw("[1,2,3]\n");
        writeRaw("{\"id\": \"2\", \"result\": {}}\n");
        writeRaw("{\"method\": 42, \"params\": {}}\n");
        writeRaw("{\"method\":\"account/rateLimits/updated\"}\n");
        writeRaw("{\"method\":\"account/rateLimits/updated\",\"params\":null}\n");
        writeRaw("{\"method\":\"account/rateLimits/updated\",\"params\":[1]}\n");
        writeRaw("{\"method\":\"account/rateLimits/updated\",\"params\":{\"rateLimits\":{\"primary\":{"
                 "\"usedPercent\":\"50\"}}}}\n");
        writeRaw("{\"method\":\"account/rateLimits/upd");
        writeRaw("\xff\xfe\n");
        // An invalid line and a good one in the same write: only the invalid one may be lost.
        writeRaw(QByteArray("\xc3\x28 broken\n") + json(push(payload(66, 6))) + '\n');
        writeRaw(json(push(payload(77, 7))) + '\n');
    } else if (scenario == "crash") {
        writeRaw("{\"method\":\"account/rateLimits/updated\",\"params\":{\"rateLi");
        sleepMs(50);
        std::abort();
    } else if (scenario == "tail") {
        // The last line has no line feed before the child ends.
        writeRaw(json(push(payload(31, 41))));
        std::_Exit(0);
    }
}

void handle(const QJsonObject& message, std::vector<QJsonValue>& pendingReads, bool& loggedIn)
{
    const QString method = message.value("method").toString();
    const QJsonValue id = message.value("id");
    if (method == "initialize") {
        if (scenario == "initError")
            emitLine(error(id, -32600, "Not initialized"));
        else
            emitLine(result(id, {{"userAgent", "fake"}}));
    } else if (method == "initialized") {
        afterHandshake();
    } else if (method == "account/rateLimits/read") {
        if (scenario == "twoReads") {
            pendingReads.push_back(id);
            if (pendingReads.size() == 2) {
                // The newer answer first, then the stale one.
                emitLine(result(pendingReads[1], payload(22, 2)));
                emitLine(result(pendingReads[0], payload(11, 1)));
            }
        } else if (scenario == "quiet") {
            // Reads stay unanswered; the test feeds the client its own lines.
        } else if (scenario == "readThenExit") {
            emitLine(result(id, payload(42, 17)));
            std::_Exit(5);
        } else if (scenario == "push" || (scenario == "login" && !loggedIn)) {
            loggedIn = true;
            emitLine(error(id, -32600, "codex account authentication required to read rate limits"));
        } else {
            emitLine(result(id, payload(42, 17)));
        }
    } else if (method == "account/read") {
        emitLine(result(id, {{"account", QJsonValue::Null}, {"requiresOpenaiAuth", true}}));
    } else if (!id.isUndefined()) {
        emitLine(error(id, -32601, "unknown method"));
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "app-server") != 0)
        return 2;
    scenario = argc > 2 ? argv[2] : "normal";
    if (argc > 3)
        wireLog = std::fopen(argv[3], "a");

    if (scenario == "exit")
        return 3;
    if (scenario == "deaf" || scenario == "stall") {
        // deaf: nobody reads our input any more; stall: alive but never reading.
        if (scenario == "deaf")
            ::close(STDIN_FILENO);
        sleepMs(30000);
        return 0;
    }

    std::vector<QJsonValue> pendingReads;
    bool loggedIn = false;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (wireLog) {
            std::fwrite(line.data(), 1, line.size(), wireLog);
            std::fputc('\n', wireLog);
            std::fflush(wireLog);
        }
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        if (document.isObject())
            handle(document.object(), pendingReads, loggedIn);
    }
    return 0;
}
