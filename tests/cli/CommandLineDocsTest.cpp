#include "CliProcess.h"

#include "core/model/AppSettings.h"
#include "core/model/Enums.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

// The man page and the shell completions are written at build time from the table behind --help: checked here
// against what the program itself prints, and the bash completion by completing for real.
namespace {

using namespace CliTest;

QString generated(const QString& name)
{
    return QStringLiteral(TALLYVANE_BINARY_DIR "/packaging/") + name;
}

// Every long option that --help names, and the commands of its usage lines.
QStringList helpWords()
{
    Home home;
    const ProcessResult help = run(home, {QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    QStringList words;
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])--[a-z][a-z-]*"));
    for (const QRegularExpressionMatch& match : option.globalMatch(help.out))
        words.append(match.captured());
    static const QRegularExpression command(QStringLiteral("^(?:Usage:)? +tallyvane ([a-z]+)"),
                                            QRegularExpression::MultilineOption);
    for (const QRegularExpressionMatch& match : command.globalMatch(help.out))
        words.append(match.captured(1));
    words.removeDuplicates();
    return words;
}

bool mentions(const QString& text, const QString& word)
{
    return text.contains(QRegularExpression(QStringLiteral("(?<![\\w-])") + QRegularExpression::escape(word) +
                                            QStringLiteral("(?![\\w-])")));
}

TEST(CommandLineDocs, ManPageAndBothCompletionsNameEveryOptionOfTheHelp)
{
    // The help names every option the parsers take (the parsers do not read its table).
    const QStringList words = helpWords();
    for (const char* option :
         {"status",     "--json",           "--waybar",   "--watch",     "--demo",      "--at",
          "--mode",     "--basis",          "--headless", "--logictest", "--dumpstore", "--export-csv",
          "--version",  "--help",           "usage",      "--hourly",    "--since",     "--until",
          "--provider", "--capture-height", "--usagetest"})
        ASSERT_TRUE(words.contains(QLatin1String(option))) << option;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("200"));
    // The page as a reader sees it, so a dash lost to roff would show.
    const ProcessResult man = runProgram(
        QStringLiteral("man"), {QStringLiteral("-l"), generated(QStringLiteral("tallyvane.1"))}, env);
    ASSERT_EQ(man.exitCode, 0) << man.err.toStdString();
    const QString bash =
        QString::fromUtf8(TestSupport::readFile(generated(QStringLiteral("tallyvane.bash"))));
    const QString zsh = QString::fromUtf8(TestSupport::readFile(generated(QStringLiteral("_tallyvane"))));
    ASSERT_FALSE(bash.isEmpty() || zsh.isEmpty());
    for (const QString& word : words) {
        EXPECT_TRUE(mentions(man.out, word)) << "man page: " << word.toStdString();
        EXPECT_TRUE(mentions(bash, word)) << "bash: " << word.toStdString();
        EXPECT_TRUE(mentions(zsh, word)) << "zsh: " << word.toStdString();
    }
}

// Every key of the object and of the objects within it.
void collectKeys(const QJsonValue& value, QSet<QString>& keys)
{
    if (value.isArray())
        for (const QJsonValue& item : value.toArray())
            collectKeys(item, keys);
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        keys.insert(it.key());
        collectKeys(it.value(), keys);
    }
}

// The package installs no README: the man page itself names every key that status prints and the
// environment the program reads, and roff renders it without a warning.
TEST(CommandLineDocs, ManPageNamesEveryJsonKeyAndTheEnvironment)
{
    Home home;
    QSet<QString> keys;
    for (const char* format : {"--json", "--waybar"}) {
        const ProcessResult r =
            run(home, {QStringLiteral("status"), QStringLiteral("--demo"), QString::fromLatin1(format),
                       QStringLiteral("--at"), QStringLiteral("2026-05-12T14:00:00Z")});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        collectKeys(QJsonDocument::fromJson(r.out.toUtf8()).object(), keys);
    }
    ASSERT_TRUE(keys.contains(QStringLiteral("remainingDailyAllowance")));
    for (const char* variable :
         {"NO_COLOR", "TERM", "LANG", "LC_ALL", "TZ", "CLAUDE_CONFIG_DIR", "CODEX_HOME"})
        keys.insert(QString::fromLatin1(variable));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("200"));
    env.insert(QStringLiteral("MANROFFOPT"), QStringLiteral("-ww"));
    const ProcessResult man = runProgram(
        QStringLiteral("man"), {QStringLiteral("-l"), generated(QStringLiteral("tallyvane.1"))}, env);
    ASSERT_EQ(man.exitCode, 0) << man.err.toStdString();
    EXPECT_EQ(man.err, QString());
    for (const QString& key : keys)
        EXPECT_TRUE(mentions(man.out, key)) << key.toStdString();
}

QStringList sorted(QStringList list)
{
    list.removeAll(QString());
    list.sort();
    list.removeDuplicates();
    return list;
}

template <typename Values> QStringList rawValues(const Values& values)
{
    QStringList raw;
    for (const auto value : values)
        raw.append(rawValue(value));
    return sorted(raw);
}

// What bash offers for a command line typed so far: the completion function called as bash calls it.
QStringList completeInBash(const QString& typed)
{
    const QString script =
        QStringLiteral("source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); "
                       "_tallyvane; printf '%s\\n' \"${COMPREPLY[@]}\"");
    const QStringList words = typed.split(QLatin1Char(' '));
    const ProcessResult r =
        runProgram(QStringLiteral("bash"),
                   QStringList{QStringLiteral("--norc"), QStringLiteral("--noprofile"), QStringLiteral("-c"),
                               script, QStringLiteral("bash"), generated(QStringLiteral("tallyvane.bash"))} +
                       words);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return sorted(r.out.split(QLatin1Char('\n')));
}

// What zsh offers: an interactive zsh on a terminal of its own, sent the line and a Tab.
QStringList completeInZsh(const QString& typed)
{
    const ProcessResult r = runProgram(QStringLiteral(TALLYVANE_SOURCE_DIR "/tests/support/zsh-complete.zsh"),
                                       {QStringLiteral(TALLYVANE_BINARY_DIR "/packaging"), typed});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return sorted(r.out.split(QLatin1Char('\n')));
}

struct CompletionCase
{
    const char* name;
    QString typed;
    std::optional<QStringList> exactly;
    QStringList including = {};
    QStringList excluding = {};
};

void PrintTo(const CompletionCase& row, std::ostream* out)
{
    *out << row.typed.toStdString();
}

class Completion : public testing::TestWithParam<CompletionCase>
{};

TEST_P(Completion, BashAndZshOfferWhatIsValidThere)
{
    const CompletionCase& row = GetParam();
    for (const auto& [shell, offered] :
         {std::pair{"bash", completeInBash(row.typed)}, std::pair{"zsh", completeInZsh(row.typed)}}) {
        if (row.exactly) {
            EXPECT_EQ(offered, *row.exactly) << shell;
        }
        for (const QString& word : row.including)
            EXPECT_TRUE(offered.contains(word)) << shell << " lacks " << word.toStdString();
        for (const QString& word : row.excluding)
            EXPECT_FALSE(offered.contains(word)) << shell << " offers " << word.toStdString();
    }
}

const QStringList none;

INSTANTIATE_TEST_SUITE_P(
    CommandLineDocs, Completion,
    testing::Values(
        CompletionCase{"ModeValues", QStringLiteral("tallyvane status --mode "),
                       rawValues(allMenuBarDisplayModes)},
        CompletionCase{"BasisValuesByPrefix", QStringLiteral("tallyvane status --json --basis s"),
                       QStringList{QStringLiteral("sinceWindowStart"), QStringLiteral("smart")}},
        CompletionCase{"StatusOptions", QStringLiteral("tallyvane status --w"),
                       QStringList{QStringLiteral("--watch"), QStringLiteral("--waybar")}},
        // What is given already, or ruled out by what is, is not offered again.
        CompletionCase{"StatusOptionsNotGivenYet",
                       QStringLiteral("tallyvane status --json --demo --"),
                       std::nullopt,
                       {QStringLiteral("--watch"), QStringLiteral("--basis")},
                       {QStringLiteral("--json"), QStringLiteral("--waybar"), QStringLiteral("--demo")}},
        CompletionCase{"TopOptionsNotGivenYet", QStringLiteral("tallyvane top --demo --"),
                       QStringList{QStringLiteral("--help"), QStringLiteral("--no-collect")}},
        CompletionCase{"FreeTextArgument", QStringLiteral("tallyvane status --at "), none},
        CompletionCase{"Command", QStringLiteral("tallyvane st"), QStringList{QStringLiteral("status")}},
        CompletionCase{
            "FirstOptions",
            QStringLiteral("tallyvane --"),
            std::nullopt,
            {QStringLiteral("--toggle"), QStringLiteral("--export-csv"), QStringLiteral("--version")},
            {QStringLiteral("--json"), QStringLiteral("--mode")}},
        // A command and the diagnostics come first or not at all; the diagnostics end the line.
        CompletionCase{"AfterAStartOption",
                       QStringLiteral("tallyvane --demo --"),
                       std::nullopt,
                       {QStringLiteral("--toggle"), QStringLiteral("--headless")},
                       {QStringLiteral("status"), QStringLiteral("--export-csv"), QStringLiteral("--help"),
                        QStringLiteral("--demo")}},
        CompletionCase{"AfterADiagnostic", QStringLiteral("tallyvane --help --"), none}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(CommandLineDocs, ExportCsvCompletesAPath)
{
    QTemporaryDir folder;
    ASSERT_TRUE(TestSupport::writeFile(folder.filePath(QStringLiteral("usage.csv")), {}));
    const QString typed = QStringLiteral("tallyvane --export-csv ") + folder.filePath(QStringLiteral("us"));
    EXPECT_EQ(completeInBash(typed), QStringList{folder.filePath(QStringLiteral("usage.csv"))});
    EXPECT_TRUE(completeInZsh(typed).contains(QStringLiteral("usage.csv")));
}

// Every environment variable the program and its status-line bridge read, as their sources name them.
QStringList variablesTheProgramReads()
{
    static const QRegularExpression read(QStringLiteral(
        R"re((?:getenv|qEnvironmentVariable\w*|environment\.value|environ\.get|fromEnvironment)\((?:QStringLiteral\()?"(\w+)")re"));
    QStringList names;
    for (const char* folder : {"/src", "/resources"}) {
        QDirIterator files(QStringLiteral(TALLYVANE_SOURCE_DIR) + QLatin1StringView(folder),
                           {QStringLiteral("*.cpp"), QStringLiteral("*.h"), QStringLiteral("*.py")},
                           QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString text = QString::fromUtf8(TestSupport::readFile(files.next()));
            for (const QRegularExpressionMatch& match : read.globalMatch(text))
                names.append(match.captured(1));
        }
    }
    names.removeDuplicates();
    return names;
}

// A caller's assistant folders, endpoints, terminal or display must not reach a test or the program it runs.
TEST(TestHarness, ClearsOrSetsEveryVariableTheProgramReads)
{
    const QStringList names = variablesTheProgramReads();
    for (const char* form : {"CODEX_HOME", "XDG_RUNTIME_DIR", "NO_COLOR", "TALLYVANE_CLAUDE_API_URL"})
        ASSERT_TRUE(names.contains(QLatin1StringView(form))) << form << " not found in the sources";
    QProcessEnvironment caller = QProcessEnvironment::systemEnvironment();
    caller.remove(QStringLiteral("TALLYVANE_TEST_SESSION"));
    for (const QString& name : names)
        caller.insert(name, QStringLiteral("/caller/") + name);
    const ProcessResult inherited =
        runProgram(QCoreApplication::applicationFilePath(), {QStringLiteral("--print-environment")}, caller);
    ASSERT_EQ(inherited.exitCode, 0) << inherited.err.toStdString();
    for (const QString& name : names)
        EXPECT_FALSE(inherited.out.contains(QStringLiteral("/caller/") + name)) << name.toStdString();
}

} // namespace
