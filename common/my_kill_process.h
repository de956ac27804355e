#pragma once

// Finds processes by their command name through "/proc" and signals them. Only the base names
// are compared, so "./upgrunner.bin" and "/media/usb0/hixupdateu/upgrunner.bin" are the same
// program.
class my_kill_process
{
public:
    // Number of processes named name (at most max), their ids in pids; -22 (EINVAL) for a null
    // or empty name or a null array, -5 (EIO) when "/proc" cannot be read.
    static int get_pid_by_name(const char *name, int *pids, int max);

    static bool is_process_exist(const char *name);

    // Signals every other process named name; SIGTERM where sig is refused.
    static void kill_Self_Previous(const char *name, int sig);

    // Signals every process named name, the caller included; false at the first refusal.
    static bool kill_process(const char *name, int sig);

    // The part of path after its last "/".
    static const char *basename_byself(const char *path);

    static constexpr int MaxProcesses = 256;
};
