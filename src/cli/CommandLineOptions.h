#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <initializer_list>
#include <optional>
#include <string_view>

// Every option of the command line, once: --help, the man page and the shell completions are all written
// from this table, so none of them can name an option the others miss.
namespace CommandLineOptions {

enum class Group
{
    interface,   // no command: the tray and its start options
    status,      // after the "status" command
    usage,       // after the "usage" command
    top,         // after the "top" command
    accounts,    // after the "accounts" command
    machines,    // after the "machines" command
    diagnostics, // print and exit
};

// What an option's argument may be, for the help text and the completions.
enum class Values
{
    none,          // free text (a date, a number) or no argument at all
    displayModes,  // the raw values of MenuBarDisplayMode
    forecastBases, // the raw values of ForecastBasis
    providers,     // the raw values of Provider
    file,          // a path
};

struct Option
{
    Group group;
    std::string_view name;          // "--mode"
    std::string_view argument;      // "MODE", "[PATH]" for an optional one; empty for a flag
    Values values;                  // what the argument completes to
    std::string_view description;   // lower case, no final full stop; the values are appended
    std::string_view excludes = {}; // the options it cannot be given with, separated by spaces
};

struct GroupInfo
{
    Group group;
    std::string_view command;  // "status"; empty for options that follow the program name
    std::string_view synopsis; // empty when the group shares another one's
    std::string_view title;    // the man page's subsection
    std::string_view heading;  // the help text's opening line
};

inline constexpr std::string_view programName = "tallyvane";

inline constexpr std::array groups{
    GroupInfo{Group::interface, "", "tallyvane [OPTION]...", "Start options",
              "Without a command Tallyvane starts in the system tray (a second start opens the panel of the "
              "one already running)."},
    GroupInfo{
        Group::status, "status",
        "tallyvane status [--json | --waybar] [--watch] [--demo] [--at DATE] [--mode MODE] [--basis BASIS]",
        "The status command",
        "status: one forecast cycle over the stored snapshots, printed; starts no provider and writes "
        "nothing."},
    GroupInfo{
        Group::usage, "usage",
        "tallyvane usage [--json] [--hourly] [--by-machine] [--since DATE] [--until DATE] [--provider "
        "PROVIDER]",
        "The usage command",
        "usage: tokens and estimated spend (USD) per local day and provider from the Codex and Claude Code "
        "transcripts, with totals; writes only the history cache."},
    GroupInfo{
        Group::top, "top", "tallyvane top [--demo] [--no-collect]", "The top command",
        "top: the whole meter, live, in a terminal (for SSH sessions and desktops without a tray): keys q or "
        "Esc quit, Tab or the arrow keys change the provider, w the window, b the forecast basis of this "
        "view, r refreshes, Ctrl+L redraws, ? lists the keys (Esc there closes the list), Ctrl+Z suspends "
        "until fg. When no other Tallyvane (tray or --headless) collects, it runs the providers itself as "
        "--headless does, and takes over when that one exits; standard output must be a terminal that moves "
        "the cursor (exit status 2 otherwise, also with TERM dumb or unset)."},
    GroupInfo{
        Group::accounts, "accounts",
        "tallyvane accounts [list [--json] | add PATH [--label NAME] [--provider PROVIDER] | remove PATH]",
        "The accounts command",
        "accounts: the folders of every Claude Code and Codex account Tallyvane watches (the default "
        "ones, each ~/.claude-* and ~/.codex-* that holds a credential, and those you add), with the "
        "short key that names each account in the log; add and remove write only accounts.json in the "
        "data folder."},
    GroupInfo{
        Group::machines, "machines",
        "tallyvane machines [list [--json] | add DESTINATION [--label NAME] | remove NAME | pull [NAME]]",
        "The machines command",
        "machines: the other machines whose readings and usage Tallyvane pulls over SSH (ssh DESTINATION "
        "tallyvane feed, with your own keys and agent, never a password prompt); a running Tallyvane pulls "
        "each every 5 minutes, pull pulls now (exit status 1 when a pull failed); add and remove write "
        "machines.json in the data folder."},
    GroupInfo{Group::diagnostics, "", "", "Diagnostics", "Diagnostics (print and exit):"},
};

inline constexpr std::array options{
    Option{Group::interface, "--demo", "", Values::none,
           "show synthetic demo data (never saved as a setting)"},
    Option{
        Group::interface, "--toggle", "", Values::none,
        "open or close the panel of the running Tallyvane, or start one with its panel open (bind this to a "
        "desktop shortcut where Ctrl+Alt+G cannot be grabbed)"},
    Option{Group::interface, "--preview", "", Values::none,
           "open the panel as a normal window, beside any running instance"},
    Option{Group::interface, "--start-settings", "", Values::none, "open the panel on its settings page"},
    Option{Group::interface, "--capture", "", Values::none,
           "leave the \"Demo data\" label out of the panel (for screenshots)"},
    Option{Group::interface, "--capture-height", "N", Values::none,
           "panel height in pixels, 200 to 4000 (default 720)"},
    Option{
        Group::interface, "--headless", "", Values::none,
        "run the forecasts and providers without an interface until interrupted (Ctrl+C, SIGTERM or SIGHUP); "
        "prints the local time and the status when it changes"},

    Option{Group::status, "--json", "", Values::none,
           "one JSON document (keys in tallyvane(1), section JSON OUTPUT)", "--waybar"},
    Option{Group::status, "--waybar", "", Values::none,
           "one JSON line for waybar, polybar or i3blocks: text, tooltip, class, alt, percentage", "--json"},
    Option{
        Group::status, "--watch", "", Values::none,
        "with --json or --waybar: keep running, print a new line whenever the output changes as shown "
        "(rounded figures, not the clock alone) and at least every 30 seconds; ends with status 0 once its "
        "reader is gone"},
    Option{Group::status, "--demo", "", Values::none, "use demo data instead of the snapshot log"},
    Option{Group::status, "--at", "DATE", Values::none,
           "evaluate as of an ISO 8601 date-time (e.g. 2026-05-12T14:00:00Z; without an offset: local time); "
           "snapshots stamped later are ignored"},
    Option{Group::status, "--mode", "MODE", Values::displayModes, "menu-bar display mode for this run"},
    Option{Group::status, "--basis", "BASIS", Values::forecastBases, "forecast basis for this run"},
    Option{Group::status, "--help", "", Values::none, "show this command's help (also -h)"},

    Option{Group::usage, "--json", "", Values::none,
           "one JSON document (keys in the README, section \"Command line\")"},
    Option{Group::usage, "--hourly", "", Values::none, "the hour-of-day profile instead of days"},
    Option{Group::usage, "--by-machine", "", Values::none,
           "with other machines (tallyvane machines): each machine's days apart, with a Machine column"},
    Option{Group::usage, "--since", "DATE", Values::none, "first day, YYYY-MM-DD (default: 16 days ago)"},
    Option{Group::usage, "--until", "DATE", Values::none, "last day, YYYY-MM-DD (default: today)"},
    Option{Group::usage, "--provider", "PROVIDER", Values::providers, "only this provider"},
    Option{Group::usage, "--help", "", Values::none, "show this command's help (also -h)"},

    Option{Group::top, "--demo", "", Values::none, "show demo data instead of the snapshot log"},
    Option{Group::top, "--no-collect", "", Values::none, "never start the providers, only read the log"},
    Option{Group::top, "--help", "", Values::none, "show this command's help (also -h)"},

    Option{Group::accounts, "--json", "", Values::none, "with list: one JSON document"},
    Option{
        Group::accounts, "--label", "NAME", Values::none,
        "with add: the account's name in every face (default: the folder's suffix, else the e-mail's name)"},
    Option{Group::accounts, "--provider", "PROVIDER", Values::providers,
           "with add: whose folder it is, when its files do not tell"},
    Option{Group::accounts, "--help", "", Values::none, "show this command's help (also -h)"},

    Option{Group::machines, "--json", "", Values::none, "with list: one JSON document"},
    Option{Group::machines, "--label", "NAME", Values::none,
           "with add: the machine's name in every face (default: the destination's host)"},
    Option{Group::machines, "--help", "", Values::none, "show this command's help (also -h)"},

    Option{Group::diagnostics, "--logictest", "", Values::none,
           "run one demo cycle through the forecasting engines; exit status 1 when a check fails"},
    Option{Group::diagnostics, "--usagetest", "", Values::none,
           "scan the transcripts and print what the usage history answers"},
    Option{Group::diagnostics, "--selftest", "", Values::none,
           "check the data folder, settings, snapshot log, engines, Codex, the Claude credential, OAuth "
           "status and "
           "bridge, the transcript history and the estimator files; exit status 1 when a check fails"},
    Option{Group::diagnostics, "--dumpstore", "", Values::none,
           "print every stored snapshot as one JSON line"},
    Option{
        Group::diagnostics, "--oauthtest", "", Values::none,
        "fetch the Claude usage once through Claude Code's OAuth credential and print it (stores nothing); "
        "exit status 1 unless it worked"},
    Option{Group::diagnostics, "--install-claude-bridge", "", Values::none,
           "install the status-line bridge into Claude Code's settings"},
    Option{Group::diagnostics, "--uninstall-claude-bridge", "", Values::none,
           "remove it again (restoring the status line it wrapped)"},
    Option{Group::diagnostics, "--bundletest", "", Values::none,
           "check that the bridge script is inside the program"},
    Option{Group::diagnostics, "--notify-test", "", Values::none,
           "post one sample desktop notification and print which notification service took it; exit status 1 "
           "when none answers"},
    Option{Group::diagnostics, "--export-csv", "[PATH]", Values::file,
           "write the snapshot log as CSV (default: the data folder's tallyvane-export.csv) and print where"},
    Option{Group::diagnostics, "--help", "", Values::none,
           "show this help (also -h, and tallyvane help COMMAND for one command's)"},
    Option{Group::diagnostics, "--version", "", Values::none, "show the version"},
};

inline constexpr std::string_view exitStatus =
    "Exit status: 0 on success, 1 when a check or an export fails, 2 for unknown options or bad values.";

// The choices an argument takes, in the order the program lists them; empty for free text and paths.
QStringList choices(Values values);

// The description with its choices appended ("forecast basis for this run: last30m, ..., smart").
QString fullDescription(const Option& option);

// The --help text.
QString help();
// One command's help ("status --help"): its usage line, its options and the exit status.
QString help(Group group);
// The group of a command ("status"), if it is one.
std::optional<Group> commandGroup(const QString& command);
// The refusal of an option the groups do not have, with the nearest one they do when it is close:
// "unknown option '--verison'; did you mean --version?".
QString unknownOption(const QString& given, std::initializer_list<Group> among);

} // namespace CommandLineOptions
