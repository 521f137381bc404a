// How long the look-dev page waits after a change: from the request to the
// first coarse image, and until 64 samples have been added up in passes of
// 16 (a coarse image, then four passes), timed at the client as the page
// asks for them, for the default scene and a generated scene of 100
// thousand triangles, at 640x360 with two rendering threads; and the load
// average before and after. Prints a Markdown table.
//
//   look_dev_latency_bench           twenty changes per scene
//   look_dev_latency_bench --smoke   two, at 64x36, to show it runs

#include <httplib.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_machine.h"
#include "bench/bench_scenes.h"

namespace {

pid_t server = 0;

void stop_server()
{
    if (server > 0) {
        kill(server, SIGINT);
        waitpid(server, nullptr, 0);
    }
    server = 0;
}

[[noreturn]] void give_up(const std::string &why)
{
    std::fprintf(stderr, "look_dev_latency_bench: %s\n", why.c_str());
    stop_server();
    std::exit(1);
}

using Clock = std::chrono::steady_clock;

double milliseconds_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Requests the query; the samples added up so far, as the answer says.
int request(httplib::Client &client, const std::string &query)
{
    const auto answer = client.Get(query);
    if (!answer || answer->status != 200)
        give_up(query + " failed (" +
                (answer ? std::to_string(answer->status) + ": " + answer->body : httplib::to_string(answer.error())) +
                ")");
    return std::atoi(answer->get_header_value("X-Umbrex-Samples-Done").c_str());
}

// Starts the server on the scene (empty: the built-in one); its client.
httplib::Client start(const std::string &scene, const char *width, const char *height)
{
    int out[2];
    if (pipe(out) != 0)
        give_up("no pipe");
    server = fork();
    if (server == 0) {
        dup2(out[1], STDOUT_FILENO);
        std::vector<const char *> argv = {UMBREX_RENDER, "--serve", "--port", "0", "--threads", "2", "--width", width,
                                          "--height", height};
        if (!scene.empty())
            argv.insert(argv.end(), {"--scene", scene.c_str()});
        argv.push_back(nullptr);
        execv(UMBREX_RENDER, const_cast<char *const *>(argv.data()));
        _exit(127);
    }
    close(out[1]);
    FILE *output = fdopen(out[0], "r");
    char line[256] = {};
    const char *address = std::fgets(line, sizeof line, output) ? std::strstr(line, "127.0.0.1:") : nullptr;
    const char *token = address ? std::strstr(address, "?token=") : nullptr;
    if (!token)
        give_up("the server did not start");
    httplib::Client client("127.0.0.1", std::atoi(address + 10));
    client.set_read_timeout(600, 0);  // a pass may be slow on a busy or instrumented machine
    client.set_default_headers({{"X-Umbrex-Token", std::string(token + 7, std::strcspn(token + 7, " \n"))}});
    fclose(output);
    return client;
}

struct Latency {
    std::vector<double> coarse, accumulated;
};

// Changes of spread, each a coarse request then passes until 64 samples.
Latency measure(const std::string &scene, int changes, bool smoke)
{
    httplib::Client client = start(scene, smoke ? "64" : "640", smoke ? "36" : "360");
    const std::string look = "/render?tab=bench&format=floats&pass_samples=16&set=samples%3D64&set=spread%3D";
    request(client, look + "59&level=coarse");  // warm up
    Latency latency;
    for (int change = 0; change < changes; ++change) {
        const std::string query = look + std::to_string(60 + change);
        const auto start = Clock::now();
        request(client, query + "&level=coarse");
        latency.coarse.push_back(milliseconds_since(start));
        while (request(client, query + "&level=pass") < 64) {
        }
        latency.accumulated.push_back(milliseconds_since(start));
    }
    stop_server();
    return latency;
}

std::string load_average()
{
    std::ifstream loadavg("/proc/loadavg");
    std::string one, five, fifteen;
    loadavg >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

void report(const char *scene, const char *what, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    std::printf("| %s | %s | %.1f | %.1f | %.1f |\n", scene, what, times.front(), times[times.size() / 2],
                times.back());
}

}  // namespace

int main(int argc, char **argv)
{
    const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    const int changes = smoke ? 2 : 20;
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("umbrex-latency-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string obj = (folder / "terrain.obj").string();
    write_obj(make_bench_scene(smoke ? 1000 : 100000), obj);

    const std::string before = load_average();
    const Latency built_in = measure("", changes, smoke);
    const Latency terrain = measure(obj, changes, smoke);
    const std::string after = load_average();
    std::filesystem::remove_all(folder);

    std::printf("Machine: %s; load average %s before, %s after. %s, two rendering threads; %d changes of spread "
                "per scene, each a coarse request (a quarter of the size, 4 samples, one camera ray a pixel) then "
                "passes of 16 samples until 64 are added up, timed at the client.\n\n",
                machine_description().c_str(), before.c_str(), after.c_str(), smoke ? "64x36" : "640x360", changes);
    std::printf("| scene | from a change to | fastest (ms) | median (ms) | slowest (ms) |\n|---|---|---|---|---|\n");
    report("default", "the first coarse image", built_in.coarse);
    report("default", "64 samples added up", built_in.accumulated);
    const std::string name = smoke ? "1k triangles" : "100k triangles";
    report(name.c_str(), "the first coarse image", terrain.coarse);
    report(name.c_str(), "64 samples added up", terrain.accumulated);
    return 0;
}
