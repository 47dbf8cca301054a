#include "ui/window/ApplicationSetup.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "packaging/identity/ProgramIdentity.h"
#include "packaging/identity/WindowIcon.h"

namespace r4t8 {

bool SetUpApplication(QCoreApplication& app) {
    QCoreApplication::setApplicationName(QStringLiteral("r4t8-config"));
    QCoreApplication::setApplicationVersion(ProgramVersion());
    // The desktop entry is named by the reverse-DNS id that AppStream asks for; WM_CLASS
    // stays the application name above, which the entry names as its StartupWMClass.
    QGuiApplication::setDesktopFileName(DesktopId());
    QGuiApplication::setWindowIcon(WindowIcon());

    // The interface is Chinese whatever the desktop's language: calendars and dialog details too.
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(chinese);
    auto* translator = new QTranslator(&app);
    if (!translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

WindowArguments ParseWindowArguments(const QStringList& arguments) {
    WindowArguments parsed;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (a == QLatin1String("--port") && i + 1 < arguments.size()) {
            parsed.port = arguments.at(++i);
        } else if (a.startsWith(QLatin1String("--port="))) {
            parsed.port = a.mid(7);
        } else if (a == QLatin1String("--quit-after-show")) {
            parsed.quitAfterShow = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            parsed.help = true;
        } else if (a == QLatin1String("--version")) {
            parsed.version = true;
        }
    }
    return parsed;
}

QString WindowUsage() {
    return QStringLiteral(
        "Usage: r4t8-config [--port NAME] [--quit-after-show]\n"
        "The R4T8 configuration tool's window.\n\n"
        "  --port NAME         preselect (or type) the serial port NAME\n"
        "  --quit-after-show   exit as soon as the window is shown (a start-up check)\n"
        "  -h, --help          show this help\n"
        "  --version           show the program's version\n\n"
        "Other arguments are ignored.\n");
}

}  // namespace r4t8
