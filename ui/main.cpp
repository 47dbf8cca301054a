// r4t8-config: the configuration tool's window program.
//   r4t8-config [--port NAME] [--quit-after-show]
// --port preselects (or types) a port name; --quit-after-show ends the program as soon as the
// window has been shown, without the exit question (a start-up check for scripts and CI).
#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <cstdio>

#include "packaging/identity/ProgramIdentity.h"
#include "ui/window/ApplicationSetup.h"
#include "ui/window/WindowProgram.h"

int main(int argc, char* argv[]) {
    // --help and --version come before the application object, which needs a display:
    // help2man and a terminal without one can still ask.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const r4t8::WindowArguments args = r4t8::ParseWindowArguments(arguments);
    if (args.help || args.version) {
        const QString text =
            args.help ? r4t8::WindowUsage() : r4t8::VersionText(QStringLiteral("r4t8-config"));
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }

    QApplication app(argc, argv);
    r4t8::SetUpApplication(app);
    r4t8::WindowProgram program;
    program.Create(args.port);
    program.Window().show();
    if (args.quitAfterShow) QTimer::singleShot(0, &app, [] { QApplication::exit(0); });
    return QApplication::exec();
}
