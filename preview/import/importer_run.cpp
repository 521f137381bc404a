// The importer's side: limit itself, read the scene file, hand the scene or
// the reason there is none to the program, and end.

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "preview/import/import_apart.h"
#include "preview/import/importer_run.h"
#include "preview/import/scene_transfer.h"

#if defined(__SANITIZE_ADDRESS__)
#define UMBREX_SHADOW_MEMORY 1
#define UMBREX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UMBREX_ADDRESS_SANITIZER 1
#endif
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define UMBREX_SHADOW_MEMORY 1
#endif
#endif

#ifdef UMBREX_ADDRESS_SANITIZER
// Under AddressSanitizer the importer's address space cannot be limited, so
// no single allocation may pass 4 GiB instead: a file that asks for more
// ends the importer rather than taking the machine's memory.
extern "C" const char *__asan_default_options()
{
    return "max_allocation_size_mb=4096";
}
#endif

namespace {

// Lowers a limit of this process, never raising it past what it was.
void lower_limit(int resource, rlim_t soft, rlim_t hard)
{
    rlimit current{};
    if (getrlimit(resource, &current) != 0)
        return;
    const auto lower = [](rlim_t a, rlim_t b) { return a == RLIM_INFINITY ? b : b == RLIM_INFINITY ? a : std::min(a, b); };
    rlimit wanted{lower(current.rlim_cur, soft), lower(current.rlim_max, hard)};
    wanted.rlim_cur = lower(wanted.rlim_cur, wanted.rlim_max);
    setrlimit(resource, &wanted);
}

[[noreturn]] void out_of_memory()
{
    _exit(importer_out_of_memory);
}

bool whole_number(const char *text, unsigned long long &value)
{
    char *end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

}  // namespace

bool is_importer_run(int argc, char **argv)
{
    return argc > 1 && std::strcmp(argv[1], importer_flag) == 0;
}

int run_importer(int argc, char **argv)
{
    unsigned long long seconds = 0, memory = 0, parent = 0;
    MeshChoice choice;
    bool choice_read = argc >= 6 && (argc - 6) % 2 == 0;
    for (int i = 6; choice_read && i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        choice_read = option == "--hide" || option == "--only";
        (option == "--hide" ? choice.hide : choice.only).push_back(argv[i + 1]);
    }
    if (!choice_read || !whole_number(argv[3], seconds) || !whole_number(argv[4], memory) ||
        !whole_number(argv[5], parent) || fcntl(importer_answer_fd, F_GETFD) < 0) {
        std::fprintf(stderr, "umbrex-render: %s is for umbrex-render's own use\n", importer_flag);
        return 2;
    }
    // Named for what it does where processes are listed; ends with the
    // program, and gains no privileges.
    prctl(PR_SET_NAME, "umbrex-import");
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (static_cast<unsigned long long>(getppid()) != parent)
        _exit(1);
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    lower_limit(RLIMIT_CORE, 0, 0);
    lower_limit(RLIMIT_CPU, seconds, seconds + 1);
#ifndef UMBREX_SHADOW_MEMORY  // the sanitizers' shadow memory does not fit a limit
    lower_limit(RLIMIT_AS, memory, memory);
#endif
    std::set_new_handler(out_of_memory);

    const std::string path = argv[2];
    try {
        try {
            const ImportedScene scene = import_scene(path, choice);
            send_scene(importer_answer_fd, scene);
            // The program has its answer: end at once, without taking the
            // scene apart first.
            close(importer_answer_fd);
            _exit(0);
        } catch (const SceneError &fault) {
            send_failure(importer_answer_fd, fault.what());
        } catch (const TransferError &) {
            throw;
        } catch (const std::exception &fault) {
            send_failure(importer_answer_fd, path + ": " + fault.what());
        }
    } catch (const TransferError &) {
        _exit(1);
    }
    _exit(0);
}
