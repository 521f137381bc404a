// The program's side of reading a scene apart: start the importer, read its
// answer before the deadline, and tell what its end means.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cctype>
#include <cstring>
#include <fstream>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "preview/available_memory.h"
#include "preview/import/import_apart.h"
#include "preview/import/importer_run.h"
#include "preview/import/scene_transfer.h"
#include "preview/printable_text.h"
#include "preview/scene/scene_folder.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// Waits for the importer's end on a thread of its own, where the program
// need not: it has the whole answer, and the importer's end (taking a large
// scene's memory apart) would only keep it waiting. False when no thread can
// be started.
bool end_aside(pid_t child)
{
    try {
        std::thread([child] {
            int status = 0;
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
        return true;
    } catch (const std::system_error &) {
        return false;
    }
}

// Waits for the process to end, until the deadline; true once it has.
bool wait_until(pid_t child, Clock::time_point deadline, int &status)
{
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    while (true) {
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child || (ended < 0 && errno != EINTR)) {
            if (pidfd >= 0)
                close(pidfd);
            return ended == child;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            if (pidfd >= 0)
                close(pidfd);
            return false;
        }
        if (pidfd >= 0) {
            pollfd ready{pidfd, POLLIN, 0};
            poll(&ready, 1, static_cast<int>(std::min<long long>(left, 1 << 30)));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(left, 5)));
        }
    }
}

class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    posix_spawn_file_actions_t actions;
};

// Starts the program again as the importer, its answer going to `answer`
// as descriptor 3, nothing else of this process open in it.
pid_t start_importer(const std::string &path, const ImportLimits &limits, const MeshChoice &choice,
                     std::uint64_t memory, int answer)
{
    SpawnActions spawn;
    posix_spawn_file_actions_adddup2(&spawn.actions, answer, importer_answer_fd);
    posix_spawn_file_actions_addopen(&spawn.actions, 0, "/dev/null", O_RDONLY, 0);
    // Whatever the readers print would break the one line.
    posix_spawn_file_actions_addopen(&spawn.actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&spawn.actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&spawn.actions, importer_answer_fd + 1);
    std::vector<std::string> arguments = {"umbrex-render", importer_flag, path, std::to_string(limits.timeout_seconds),
                                          std::to_string(memory), std::to_string(getpid())};
    for (const std::string &pattern : choice.hide)
        arguments.insert(arguments.end(), {"--hide", pattern});
    for (const std::string &pattern : choice.only)
        arguments.insert(arguments.end(), {"--only", pattern});
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    // The program itself, whatever has become of its file since it started.
    const int fault = posix_spawn(&child, "/proc/self/exe", &spawn.actions, nullptr, argv.data(), environ);
    if (fault != 0)
        throw SceneError(printable(path) + ": cannot start the importer (" + std::strerror(fault) + ")");
    return child;
}

}  // namespace

std::uint64_t importer_memory_limit()
{
    std::uint64_t limit = std::max<std::uint64_t>(available_memory(), std::uint64_t{1} << 30);
    rlimit own{};
    if (getrlimit(RLIMIT_AS, &own) == 0 && own.rlim_cur != RLIM_INFINITY)
        limit = std::min<std::uint64_t>(limit, own.rlim_cur);
    return limit;
}

std::string importer_end_reason(int wait_status, int timeout_seconds, std::uint64_t memory_bytes)
{
    const std::string time = "gave up after " + std::to_string(timeout_seconds) + " s of reading (--import-timeout)";
    if (WIFSIGNALED(wait_status)) {
        const int signal = WTERMSIG(wait_status);
        // Past its processor time the importer is stopped by SIGXCPU, and by
        // SIGKILL a second later.
        if (signal == SIGXCPU || signal == SIGKILL)
            return time;
        std::string name = strsignal(signal);
        if (!name.empty())
            name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
        return "the importer crashed on it (" + name + ")";
    }
    if (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == importer_out_of_memory) {
        char text[96];
        std::snprintf(text, sizeof text, "the importer needed more than %.1f GiB of memory",
                      static_cast<double>(memory_bytes) / (1u << 30));
        return text;
    }
    return "the importer stopped without an answer (exit status " +
           std::to_string(WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1) + ")";
}

ImportedScene import_scene_apart(const std::string &path, const ImportLimits &limits, const MeshChoice &choice)
{
    check_scene_file(path);
    const std::string name = printable(path);
    const std::uint64_t memory = importer_memory_limit();
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0)
        throw SceneError(name + ": cannot start the importer (" + std::strerror(errno) + ")");
    // A larger pipe: fewer trips for a large scene.
    fcntl(channel[0], F_SETPIPE_SZ, 1 << 20);
    pid_t child = 0;
    try {
        child = start_importer(path, limits, choice, memory, channel[1]);
    } catch (...) {
        close(channel[0]);
        close(channel[1]);
        throw;
    }
    close(channel[1]);

    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(limits.timeout_seconds);
    ImportAnswer answer;
    std::optional<TransferError> fault;
    try {
        answer = receive_answer(channel[0], deadline, memory);
    } catch (const TransferError &error) {
        fault = error;
    }
    close(channel[0]);
    int status = 0;
    bool timed_out = fault && fault->kind == TransferError::Kind::timed_out;
    // An answer that cannot be trusted is the fault to tell: the importer
    // that sent it is not waited for.
    const bool malformed = fault && fault->kind == TransferError::Kind::malformed;
    const bool answered = !fault && end_aside(child);
    if (!answered && (timed_out || malformed || !wait_until(child, deadline, status))) {
        timed_out = !malformed;
        kill(child, SIGKILL);
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }

    // One line: the file's name, then at most so much of the importer's text.
    const auto line = [&](const std::string &text) {
        return shortened(printable(text), name.size() + 2 + importer_text_limit);
    };
    if (timed_out)  // told as the end of an importer killed at its limit
        throw SceneError(name + ": " + importer_end_reason(SIGKILL, limits.timeout_seconds, memory));
    if (malformed)
        throw SceneError(line(name + ": " + fault->what()));
    if (!answered && (!WIFEXITED(status) || WEXITSTATUS(status) != 0))
        throw SceneError(name + ": " + importer_end_reason(status, limits.timeout_seconds, memory));
    if (fault)
        throw SceneError(line(name + ": " + fault->what()));
    if (!answer.scene)
        throw SceneError(line(answer.failure));
    for (std::string &warning : answer.scene->loaded.warnings)
        warning = line(warning);
    return std::move(*answer.scene);
}
