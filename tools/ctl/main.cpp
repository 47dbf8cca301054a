// r4t8ctl: the configuration tool without a window, for scripted provisioning.
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

#include "CtlApp.h"
#include "packaging/identity/ProgramIdentity.h"

namespace {

const char kUsage[] =
    "Usage: r4t8ctl ports [--json]\n"
    "  or:  r4t8ctl [--port DEV] [--password PWD] [--log FILE] [--json] [--quiet] COMMAND ...\n"
    "\n"
    "commands:\n"
    "  login                                   log in, print model and version\n"
    "  read --ini FILE                         read the four blocks, save them as a settings file\n"
    "  write --ini FILE [--no-backup] [--no-verify] [--dir DIR]\n"
    "                                          back up the controller's blocks, load a settings\n"
    "                                          file, erase and write the four blocks, send\n"
    "                                          write-done, read back and compare\n"
    "  backup [--dir DIR]                      store the controller's blocks in the archive\n"
    "  restore FILE [--no-backup] [--no-verify] [--dir DIR]\n"
    "                                          write a backup's raw blocks (.bin) back\n"
    "  diff --ini FILE                         fields that writing FILE would change\n"
    "  history --from YY-MM-DD --to YY-MM-DD [--dir DIR]   fetch and export workbook and CSV\n"
    "  current                                 print the current readings\n"
    "  relay close SECONDS | relay pulse PULSE INTERVAL COUNT | relay open\n"
    "                                          switch the relay\n"
    "  clock get | clock set now | clock set \"YYYY-MM-DD HH:MM:SS\"\n"
    "                                          read or set the controller's clock\n"
    "  debug on | debug off | debug monitor [--seconds N]\n"
    "                                          switch the controller's debug output, or watch it\n"
    "  factory-reset --yes                     reset the controller to its factory settings\n"
    "\n"
    "--port defaults to the only serial port present; --password defaults to 5807.\n"
    "Messages go to standard error, data to standard output. Exit status: 0 success,\n"
    "1 refused or failed (also a write whose read-back differs), 2 usage error.\n"
    "'r4t8ctl COMMAND --help' describes a command; 'r4t8ctl --version' prints the version.\n";

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("r4t8ctl"));
    QStringList args = QCoreApplication::arguments().mid(1);
    r4t8::ctl::GlobalOptions options;
    while (!args.isEmpty() && args.front().startsWith("--")) {
        const QString opt = args.takeFirst();
        auto value = [&](QString& out) {
            if (args.isEmpty()) return false;
            out = args.takeFirst();
            return true;
        };
        bool ok = true;
        if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            return r4t8::ctl::kExitOk;
        } else if (opt == "--version") {
            std::fputs(r4t8::VersionText(QStringLiteral("r4t8ctl")).toLocal8Bit().constData(),
                       stdout);
            return r4t8::ctl::kExitOk;
        } else if (opt == "--port") {
            ok = value(options.port);
        } else if (opt == "--password") {
            ok = value(options.password);
        } else if (opt == "--log") {
            ok = value(options.logFile);
        } else if (opt == "--json") {
            options.json = true;
        } else if (opt == "--quiet") {
            options.quiet = true;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "r4t8ctl: bad option %s\n%s", opt.toLocal8Bit().constData(),
                         kUsage);
            return r4t8::ctl::kExitUsage;
        }
    }
    if (args.isEmpty()) {
        std::fputs(kUsage, stderr);
        return r4t8::ctl::kExitUsage;
    }
    const QString command = args.takeFirst();
    // "ports --json" reads naturally too.
    if (command == "ports" && args.removeAll("--json") > 0) options.json = true;
    r4t8::ctl::CtlApp ctl(options);
    return ctl.Run(command, args);
}
