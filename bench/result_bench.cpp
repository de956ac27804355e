// Timing of the check-result service: round trip of one report, reports per second over one
// connection and over a fresh connection per report. Not a test: figures only.
#include "check_result_service.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;
    std::atomic<int> updateRes { -1 };
    CheckResultService service(updateRes);
    if (!service.startCheckResultServer(0)) {
        fprintf(stderr, "cannot start the service\n");
        return 1;
    }
    const unsigned port = service.port();
    std::string error;

    Kz::RPC::Client client;
    if (!client.connect(port, 2000, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::vector<double> trips;
    trips.reserve(std::size_t(rounds));
    const auto oneStart = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        if (!client.call(hix::result::ServiceName, hix::result::MethodName,
                hix::result::encodeArgument(i), nullptr, &error)) {
            fprintf(stderr, "call %d: %s\n", i, error.c_str());
            return 1;
        }
        trips.push_back(microseconds(Clock::now() - start));
    }
    const double oneSeconds = microseconds(Clock::now() - oneStart) / 1e6;
    std::sort(trips.begin(), trips.end());

    const int freshRounds = std::max(100, rounds / 10);
    const auto freshStart = Clock::now();
    for (int i = 0; i < freshRounds; ++i) {
        if (!hix::result::report(i, port, 2000, &error)) {
            fprintf(stderr, "fresh report %d: %s\n", i, error.c_str());
            return 1;
        }
    }
    const double freshSeconds = microseconds(Clock::now() - freshStart) / 1e6;
    // The command-line client, as a package's shell script would use it (process start included).
    const std::string tool = std::string(argc > 2 ? argv[2] : "build/bin") + "/hixresult";
    const std::string portText = std::to_string(port);
    const int toolRounds = 100;
    int toolFailures = 0;
    const auto toolStart = Clock::now();
    for (int i = 0; i < toolRounds; ++i) {
        std::string value = std::to_string(i);
        const char *args[] = { tool.c_str(), "--port", portText.c_str(), value.c_str(), nullptr };
        pid_t pid = 0;
        int status = 0;
        if (posix_spawn(&pid, tool.c_str(), nullptr, nullptr, const_cast<char **>(args), environ)
                != 0
            || waitpid(pid, &status, 0) != pid || status != 0)
            ++toolFailures;
    }
    const double toolSeconds = microseconds(Clock::now() - toolStart) / 1e6;
    if (!hix::result::report(freshRounds - 1, port, 2000, &error))
        return 1;

    const bool lastArrived = updateRes.load() == freshRounds - 1;

    printf("round trip of one report (open connection, %d calls): median %.1f us, "
           "p99 %.1f us, max %.1f us\n",
        rounds, trips[trips.size() / 2], trips[trips.size() * 99 / 100], trips.back());
    printf("reports per second over one connection: %.0f\n", rounds / oneSeconds);
    printf("reports per second over fresh connections (%d): %.0f\n", freshRounds,
        freshRounds / freshSeconds);
    if (toolFailures == 0)
        printf("hixresult runs (process start included): %.2f ms each\n",
            toolSeconds * 1000 / toolRounds);
    else
        printf("hixresult failed %d of %d times (%s)\n", toolFailures, toolRounds, tool.c_str());
    printf("last report arrived: %s\n", lastArrived ? "yes" : "NO");
    return lastArrived ? 0 : 1;
}
