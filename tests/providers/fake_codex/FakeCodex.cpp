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
QJsonObject payload(double fiveHour, double week)
{
    return {{"rateLimits", QJsonObject{{"limitId", "codex"},
                                       {"limitName", "Codex"},
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
    } else if (scenario == "crash") {
        writeRaw("{\"method\":\"account/rateLimits/updated\",\"params\":{\"rateLi");
        sleepMs(50);
        std::abort();
    }
}

void handle(const QJsonObject& message, std::vector<QJsonValue>& pendingReads)
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
        } else if (scenario == "push") {
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
        if (scenario == "deaf") {
            ::close(STDIN_FILENO);
            writeRaw("{\"method\":\"test/inputClosed\"}\n");
        }
        sleepMs(30000);
        return 0;
    }

    std::vector<QJsonValue> pendingReads;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (wireLog) {
            std::fwrite(line.data(), 1, line.size(), wireLog);
            std::fputc('\n', wireLog);
            std::fflush(wireLog);
        }
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        if (document.isObject())
            handle(document.object(), pendingReads);
    }
    return 0;
}
