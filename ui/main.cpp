// r4t8-config: the configuration tool's window program.
//   r4t8-config [--port NAME] [--quit-after-show]
// --port preselects (or types) a port name; --quit-after-show closes the program as soon as the
// window has been shown, without the exit question (a start-up check for scripts and CI).
#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QTimer>

#include "config/DeviceSettings.h"
#include "ui/window/MessagePresenter.h"
#include "ui/window/umset.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QString title = QString::fromUtf8(r4t8::kAppTitle);
    QApplication::setApplicationName(title);
    QApplication::setApplicationDisplayName(title);

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to preselect."),
                                        QStringLiteral("NAME"));
    const QCommandLineOption quitOption(QStringLiteral("quit-after-show"),
                                        QStringLiteral("Exit once the window is shown."));
    parser.addOption(portOption);
    parser.addOption(quitOption);
    parser.process(app);

    r4t8::DeviceSettings settings;
    r4t8::MessageBoxPresenter presenter;
    r4t8::Tfrm_mset window(settings, presenter);
    presenter.SetParent(&window);
    settings.SetUserInterface(&window.UserInterface());
    window.FormCreate({}, QDateTime::currentDateTime());
    if (parser.isSet(portOption)) window.SelectPort(parser.value(portOption));
    window.show();
    if (parser.isSet(quitOption)) QTimer::singleShot(0, &app, [] { QApplication::exit(0); });
    return QApplication::exec();
}
