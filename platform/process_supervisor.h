#pragma once

#include <QString>

// The panel's process supervision: the HMI runtime is started and watched by the supervisor,
// and the updater asks it to stop the running project, to exit the runtime or to kill it.
//
// The supervisor and the runtime meet in one folder, panelPath("/run/vexo_app/"):
//
//   pid      written by the runtime when it starts: "<pid> <start time>\n", the start time being
//            field 22 of /proc/<pid>/stat. The pair names the runtime's process for certain even
//            after its number has been handed to another process. Removed when the runtime exits.
//   state    one word and a newline, replaced atomically by the runtime: "running" (a project
//            runs), "setup" (the runtime shows its setup state) or "exited".
//   protect  present while the runtime must not be killed (it is writing its own files); the
//            supervisor refuses kill requests then.
//   request  written atomically by the updater: "<token> exit\n" or "<token> stop\n".
//            The runtime takes it away (it polls every 10 ms) and answers in
//   reply    "<token> accepted\n" or "<token> refused\n", written atomically.
//   logger_flush  one line per log-flush request, for the panel's log service.
//
// The runtime counts as exited when no pid is registered, when the registered process is gone
// (or a zombie, or a different process under a reused number) or when its state says "exited".
// A request is accepted only when a live runtime answers "accepted" within RequestReplyMs; with
// no runtime, or no answer, it is refused. The kill request signals exactly the registered
// process (SIGKILL), never a process found by name.
namespace hix::supervisor {

constexpr const char *RunFolder = "/run/vexo_app/";
constexpr int RequestReplyMs = 2000;

// The host path of a file in the supervisor's folder.
QString filePath(const QString &name);

// The registered runtime's process id when it is alive, else 0.
long liveRuntimePid();

// "running", "setup", "exited" or empty when no state has been written.
QString runtimeState();

// Replaces a file of the folder atomically (write beside it, then rename).
bool writeFileAtomically(const QString &name, const QByteArray &content);

} // namespace hix::supervisor

extern "C" {

// which 0: non-zero when the HMI runtime has exited (is not running).
// which 1: non-zero when the runtime is in its setup state. Other values give 0.
int __check_application_state(int which);

// Asks the runtime to exit; 0 when it accepted.
int __notify_exit_application();

// Asks the runtime to stop its project and return to its setup state; 0 when it accepted.
int __notify_stop_application();

// Kills the registered runtime; 0 when it was signalled, -1 when there is none or it is protected.
int __notify_kill_application(int reserved);

// Asks the panel's log service to flush its logs to storage; 0 on success.
int __notify_logger_flush();
}
