// How long the look-dev page waits after a change: from the request to the
// coarse image, and to the final one, for the default scene at 640x360 with
// two rendering threads. Prints a Markdown table.
//
//   look_dev_latency_bench           twenty changes
//   look_dev_latency_bench --smoke   two, to show it runs

#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_machine.h"

namespace {

pid_t server = 0;

void stop_server()
{
    kill(server, SIGINT);
    waitpid(server, nullptr, 0);
}

double milliseconds(httplib::Client &client, const std::string &query)
{
    const auto start = std::chrono::steady_clock::now();
    const auto answer = client.Get(query);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!answer || answer->status != 200) {
        std::fprintf(stderr, "look_dev_latency_bench: %s failed (%s)\n", query.c_str(),
                     answer ? std::to_string(answer->status).c_str() : httplib::to_string(answer.error()).c_str());
        stop_server();
        std::exit(1);
    }
    return ms;
}

void report(const char *what, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    std::printf("| %s | %.1f | %.1f | %.1f |\n", what, times.front(), times[times.size() / 2], times.back());
}

}  // namespace

int main(int argc, char **argv)
{
    const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    const int changes = smoke ? 2 : 20;
    int out[2];
    if (pipe(out) != 0)
        return 1;
    server = fork();
    if (server == 0) {
        dup2(out[1], STDOUT_FILENO);
        execl(UMBREX_RENDER, UMBREX_RENDER, "--serve", "--port", "0", "--threads", "2", "--width",
              smoke ? "64" : "640", "--height", smoke ? "36" : "360", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    FILE *output = fdopen(out[0], "r");
    char line[256] = {};
    const char *address = std::fgets(line, sizeof line, output) ? std::strstr(line, "127.0.0.1:") : nullptr;
    const char *token = address ? std::strstr(address, "?token=") : nullptr;
    if (!token) {
        std::fprintf(stderr, "look_dev_latency_bench: the server did not start\n");
        stop_server();
        return 1;
    }
    httplib::Client client("127.0.0.1", std::atoi(address + 10));
    client.set_read_timeout(600, 0);  // a final frame may be slow on a busy or instrumented machine
    client.set_default_headers({{"X-Umbrex-Token", std::string(token + 7, std::strcspn(token + 7, " \n"))}});

    std::vector<double> coarse, final;
    milliseconds(client, "/render?tab=bench&level=final");  // warm up
    for (int change = 0; change < changes; ++change) {
        const std::string look = "/render?tab=bench&set=spread%3D" + std::to_string(60 + change);
        coarse.push_back(milliseconds(client, look + "&level=coarse"));
        final.push_back(milliseconds(client, look + "&level=final"));
    }
    stop_server();

    std::printf("Machine: %s. The default scene, %s, 32 samples, two rendering threads; %d changes of "
                "spread, each a coarse request (a quarter of the size, 4 samples) then a final one, timed at the "
                "client.\n\n",
                machine_description().c_str(), smoke ? "64x36" : "640x360", changes);
    std::printf("| from a change to | fastest (ms) | median (ms) | slowest (ms) |\n|---|---|---|---|\n");
    report("the coarse image", coarse);
    report("the coarse and then the final image", [&] {
        std::vector<double> both;
        for (std::size_t i = 0; i < coarse.size(); ++i)
            both.push_back(coarse[i] + final[i]);
        return both;
    }());
    return 0;
}
