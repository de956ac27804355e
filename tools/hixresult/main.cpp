// hixresult: lets a package program (a binary or a shell script) report its result number to the
// updater that started it.
//
//   hixresult [--port P] N
//
// Exit status: 0 the updater took the number; 1 nothing listens or the call failed; 2 bad usage.
#include "kz_client.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int TimeoutMs = 3000;

bool parseNumber(const char *text, long min, long max, long *value)
{
    errno = 0;
    char *end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < min || parsed > max)
        return false;
    *value = parsed;
    return true;
}

int usage()
{
    fprintf(stderr,
        "usage: hixresult [--port P] N\n"
        "  reports the result number N to the updater on 127.0.0.1:P "
        "(default port %u)\n",
        hix::result::DefaultPort);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    long port = hix::result::DefaultPort;
    long value = 0;
    bool haveValue = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            if (!parseNumber(argv[++i], 1, 65535, &port))
                return usage();
        } else if (arg == "-h" || arg == "--help") {
            usage();
            return 0;
        } else if (!haveValue && parseNumber(argv[i], INT_MIN, INT_MAX, &value)) {
            haveValue = true;
        } else {
            return usage();
        }
    }
    if (!haveValue)
        return usage();

    std::string error;
    if (!hix::result::report(int(value), unsigned(port), TimeoutMs, &error)) {
        fprintf(stderr, "hixresult: cannot report %ld to the updater on 127.0.0.1:%ld: %s\n", value,
            port, error.c_str());
        return 1;
    }
    return 0;
}
