// r4t8-config: the configuration tool's window program.
//   r4t8-config [--port NAME] [--quit-after-show]
// --port preselects (or types) a port name; --quit-after-show ends the program as soon as the
// window has been shown, without the exit question (a start-up check for scripts and CI).
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "ui/window/ApplicationSetup.h"
#include "ui/window/WindowProgram.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    r4t8::SetUpApplication(app);
    const r4t8::WindowArguments args = r4t8::ParseWindowArguments(QApplication::arguments());
    if (args.help) {
        std::fputs(r4t8::WindowUsage().toLocal8Bit().constData(), stdout);
        return 0;
    }

    r4t8::WindowProgram program;
    program.Create(args.port);
    program.Window().show();
    if (args.quitAfterShow) QTimer::singleShot(0, &app, [] { QApplication::exit(0); });
    return QApplication::exec();
}
