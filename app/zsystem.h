#ifndef ZSYSTEM_H
#define ZSYSTEM_H

#include <QString>
#include <QStringList>
#include <string>

// The system layer: every absolute system path and every shell command that
// changes the system goes through here.
//
// With ZR450_SYSROOT naming a directory, system paths resolve under it, the
// application directory is $ZR450_SYSROOT/app, and commands are logged to
// $ZR450_SYSROOT/var/log/commands.log and emulated instead of run, so a
// development machine is never changed. Without it everything is the real
// thing, as on the radio.
namespace zsys {

// The system root, or an empty string on the radio.
QString sysroot();

// Re-reads ZR450_SYSROOT (tests change it between cases).
void reload();

// Maps an absolute system path ("/dev/ttyS1", "/etc/profile") under the
// system root. Relative paths and paths already under the root are returned
// unchanged.
QString path(const QString &systemPath);
std::string path(const char *systemPath);

// The application directory: where "zparam.db", "voice/" and screenshots live.
QString appDir();

// Runs one shell command line (blocking) and returns its exit status; with a
// system root the command is logged and emulated and 0 is returned.
// "poweroff" and "reboot" end the process with status 0 under a system root.
int run(const QString &command);

// Quotes one word for the shell: operator text (SSIDs, passwords, labels,
// host names) is always passed through this before it joins a command line.
QString quote(const QString &word);

// Splits a command line into simple commands of words, honouring quotes,
// escapes, ";", "&&", "||", "|" and newlines. Redirections come out as
// separate words (">", ">>") followed by their target. Used by the emulation
// and by tests; never executes anything.
QList<QStringList> splitCommandLine(const QString &command);

} // namespace zsys

#endif
