#include <QApplication>
#include <QSettings>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Kavrit.h"
#include "LibraryDiagnostics.h"
#include "Version.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "Usage: pelmora [VIDEO]\n"
    "Finds the moments of motion in a video and saves each changed frame as a JPEG file.\n"
    "VIDEO fills the window's video field; nothing runs until Start.\n"
    "Qt's own options go with it: -platform, -display, -style, -stylesheet, -reverse and the\n"
    "like (see man pelmora).\n"
    "For runs without a window, see pelmora-scan --help.\n";

// The toolkit's own options that the program passes on to it: those that take a value, and
// those that stand alone. Each may start with one dash or two.
const char* const kToolkitOptionsWithValue[] = {"platform",
                                                "platformpluginpath",
                                                "platformtheme",
                                                "plugin",
                                                "qwindowgeometry",
                                                "geometry",
                                                "qwindowtitle",
                                                "title",
                                                "qwindowicon",
                                                "icon",
                                                "session",
                                                "display",
                                                "name",
                                                "visual",
                                                "style",
                                                "stylesheet"};
const char* const kToolkitFlags[] = {"reverse", "testability", "widgetcount",
                                     "nograb",  "dograb",      "sync"};
// Given with '=' and the value in one argument.
const char* const kToolkitOptionsJoined[] = {"style=", "stylesheet=", "session=", "qmljsdebugger="};

// What the command line asks for, read before the toolkit looks for a display.
struct Arguments {
    int exitStatus = -1;         // set when the program is done before it opens a window
    std::vector<char*> toolkit;  // the program's name and the toolkit's options, for Qt
    QStringList positional;      // the program's name and the videos given
    std::string platform;        // -platform NAME, when given
    bool displayGiven = false;   // -display NAME
};

// Writes text to the standard output, all of it: a full disk or a closed pipe is a failure, said on
// the error stream.
int answer(const char* text) {
    std::fputs(text, stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "pelmora: cannot write to the standard output: %s\n",
                     std::strerror(errno));
        return kExitFailure;
    }
    return kExitDone;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "pelmora: %s\nTry 'pelmora --help' for more information.\n",
                 message.c_str());
    return kExitUsage;
}

bool isOneOf(const std::string& name, const char* const* first, const char* const* last) {
    for (const char* const* option = first; option != last; ++option) {
        if (name == *option) {
            return true;
        }
    }
    return false;
}

// --version and --help answer before the toolkit looks for a display, so that they work where
// there is none; an option that neither the program nor the toolkit knows is a usage error.
Arguments readArguments(int argc, char* argv[]) {
    Arguments arguments;
    arguments.toolkit.push_back(argv[0]);
    arguments.positional << QString::fromLocal8Bit(argv[0]);
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            arguments.positional << QString::fromLocal8Bit(argv[i]);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "--version") {
            arguments.exitStatus =
                answer((std::string("pelmora ") + pelmora::kVersion + "\n").c_str());
            return arguments;
        }
        if (argument == "--help" || argument == "-h") {
            arguments.exitStatus = answer(kUsage);
            return arguments;
        }
        const std::string name = argument.substr(argument[1] == '-' ? 2 : 1);
        if (isOneOf(name, std::begin(kToolkitFlags), std::end(kToolkitFlags))) {
            arguments.toolkit.push_back(argv[i]);
            continue;
        }
        bool joined = false;
        for (const char* prefix : kToolkitOptionsJoined) {
            joined = joined || name.rfind(prefix, 0) == 0;
        }
        if (joined) {
            arguments.toolkit.push_back(argv[i]);
            continue;
        }
        if (!isOneOf(name, std::begin(kToolkitOptionsWithValue),
                     std::end(kToolkitOptionsWithValue))) {
            arguments.exitStatus = usageError("unknown option " + argument);
            return arguments;
        }
        if (i + 1 >= argc) {
            arguments.exitStatus = usageError("option " + argument + " needs a value");
            return arguments;
        }
        if (name == "platform") {
            arguments.platform = argv[i + 1];
        }
        arguments.displayGiven = arguments.displayGiven || name == "display";
        arguments.toolkit.push_back(argv[i]);
        arguments.toolkit.push_back(argv[++i]);
    }
    return arguments;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : value;
}

// Why no window can be shown, where that is plain before the toolkit starts: its window
// systems need a display, and none is named. Empty otherwise.
std::string missingDisplay(const Arguments& arguments) {
    std::string platforms =
        arguments.platform.empty() ? environment("QT_QPA_PLATFORM") : arguments.platform;
    if (arguments.displayGiven || !environment("DISPLAY").empty() ||
        !environment("WAYLAND_DISPLAY").empty()) {
        return {};
    }
    // The default is the X window system; a list names the platforms to try in turn.
    for (std::string::size_type start = 0; start <= platforms.size();) {
        std::string::size_type end = platforms.find(';', start);
        end = end == std::string::npos ? platforms.size() : end;
        const std::string platform = platforms.substr(start, end - start);
        if (!platform.empty() && platform.rfind("xcb", 0) != 0 &&
            platform.rfind("wayland", 0) != 0) {
            return {};
        }
        start = end + 1;
    }
    return "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
}

void cannotOpenWindow(const std::string& reason) {
    std::fprintf(stderr,
                 "pelmora: cannot open a window: %s; pelmora-scan scans videos without one\n",
                 reason.c_str());
}

QtMessageHandler defaultHandler = nullptr;
// While the toolkit starts: what its window-system plugins say, held back until it is known
// whether it started at all.
bool startingToolkit = false;
std::vector<std::pair<QtMsgType, QString>> heldMessages;

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    // Started without a login session (as root on a server, say), there is no runtime folder;
    // Qt makes its own under the temporary folder and works on, so that is no fault to report.
    // Every other complaint about the runtime folder still shows.
    if (type == QtWarningMsg &&
        text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to"))) {
        return;
    }
    if (startingToolkit && type == QtFatalMsg) {
        // The toolkit would abort with advice to reinstall; the cause is the display.
        const QString cause = heldMessages.empty() ? text.section(QLatin1Char('\n'), 0, 0)
                                                   : heldMessages.front().second;
        cannotOpenWindow(cause.trimmed().toStdString());
        std::fflush(stderr);
        std::_Exit(kExitFailure);
    }
    const char* category = context.category == nullptr ? "" : context.category;
    if (startingToolkit && std::strncmp(category, "qt.qpa", 6) == 0) {
        heldMessages.emplace_back(type, text);
        return;
    }
    defaultHandler(type, context, text);
}

}  // namespace

int main(int argc, char* argv[]) {
    Arguments arguments = readArguments(argc, argv);
    if (arguments.exitStatus >= 0) {
        return arguments.exitStatus;
    }
    if (const std::string missing = missingDisplay(arguments); !missing.empty()) {
        cannotOpenWindow(missing);
        return kExitFailure;
    }
    pelmora::setLibraryDiagnostics(false);
    defaultHandler = qInstallMessageHandler(handleMessage);
    int toolkitCount = static_cast<int>(arguments.toolkit.size());
    arguments.toolkit.push_back(nullptr);
    startingToolkit = true;
    QApplication application(toolkitCount, arguments.toolkit.data());
    startingToolkit = false;
    for (const auto& [type, text] : heldMessages) {
        defaultHandler(type, QMessageLogContext(), text);
    }
    heldMessages.clear();
    QApplication::setOrganizationName(QStringLiteral("Pelmora"));
    QApplication::setApplicationName(QStringLiteral("Pelmora"));
    QSettings settings;
    Kavrit window;
    window.restoreSettings(settings);
    window.openFromArguments(arguments.positional);
    window.show();
    const int status = application.exec();
    window.saveSettings(settings);
    return status;
}
