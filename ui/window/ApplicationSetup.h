// What the program sets up on its application object before the window exists: names that
// leave every window's caption exactly its own, Qt's own texts in Chinese, and the arguments.
#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

namespace r4t8 {

// Names the program for the desktop (an ASCII name for WM_CLASS, the desktop entry's id for
// Wayland and startup notification) without an application display name, which the xcb
// platform would append to every window title, and gives every window the program's icon.
// Loads Qt's own Chinese catalogue so that standard buttons and file dialogs read like the rest
// of the window. Returns false when that catalogue is missing (Qt's texts then stay English).
bool SetUpApplication(QCoreApplication& app);

// The window's options; anything else on the command line is ignored, as a desktop launcher
// may pass arguments the program never asked for.
struct WindowArguments {
    QString port;  // --port NAME: preselect or type this port
    bool quitAfterShow = false;
    bool help = false;
    bool version = false;
};
// Needs no application object: --help and --version are answered without a display.
WindowArguments ParseWindowArguments(const QStringList& arguments);
QString WindowUsage();

}  // namespace r4t8
