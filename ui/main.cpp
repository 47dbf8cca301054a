// r4t8-config: the configuration tool's window program.
//   r4t8-config [--port NAME] [--quit-after-show]
// --port preselects (or types) a port name; --quit-after-show ends the program as soon as the
// window has been shown, without the exit question (a start-up check for scripts and CI).
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include "ui/window/WindowProgram.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QString title = QString::fromUtf8(r4t8::kAppTitle);
    QApplication::setApplicationName(title);
    QApplication::setApplicationDisplayName(title);

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"), QStringLiteral("Port to preselect."), QStringLiteral("NAME"));
    const QCommandLineOption quitOption(QStringLiteral("quit-after-show"),
                                        QStringLiteral("Exit once the window is shown."));
    parser.addOption(portOption);
    parser.addOption(quitOption);
    parser.process(app);

    r4t8::WindowProgram program;
    program.Create(parser.value(portOption));
    program.Window().show();
    if (parser.isSet(quitOption)) QTimer::singleShot(0, &app, [] { QApplication::exit(0); });
    return QApplication::exec();
}
