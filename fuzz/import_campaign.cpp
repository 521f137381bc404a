// A mutation campaign against umbrex-render's reading of scene files: real
// models of many formats (Debian's assimp-testmodels) broken the ways files
// break, each rendered by the program as a user would. Every run must end in
// a picture or in one readable line naming the file; a crash or a hang of
// umbrex-render, or any other output, is a failure, kept with its input.
//
//   import_campaign --program PATH --models FOLDER --work FOLDER --artifacts FOLDER
//                   [--seconds N] [--seed N] [--jobs N] [--timeout N] [--keep FOLDER]
//
// --keep keeps the files the importer crashed, hung or ran out of memory on
// (clean errors of umbrex-render, but faults of the reader), for reports
// and regression tests.
//
// Prints a Markdown table per format: files tried, pictures, clean errors
// (and how many of those the importer crashed, hung or ran out of memory
// on), failures. Exits 1 on any failure.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Format {
    const char *name;
    const char *folder;  // under the models folder
    std::vector<std::string> extensions;
};

const Format formats[] = {
    {"PLY", "PLY", {".ply"}},          {"OFF", "OFF", {".off"}},       {"DirectX X", "X", {".x"}},
    {"ASE", "ASE", {".ase"}},          {"SMD", "SMD", {".smd"}},       {"OBJ", "OBJ", {".obj"}},
    {"STL", "STL", {".stl"}},          {"glTF 2", "glTF2", {".gltf", ".glb"}},
    {"FBX", "FBX", {".fbx"}},          {"Collada", "Collada", {".dae"}},
    {"3DS", "3DS", {".3ds"}},          {"AC3D", "AC", {".ac"}},        {"MS3D", "MS3D", {".ms3d"}},
    {"LightWave", "LWO", {".lwo"}},    {"NFF", "NFF", {".nff"}},       {"DXF", "DXF", {".dxf"}},
};

constexpr std::uintmax_t largest_seed = 1 << 20;

struct Options {
    std::string program, models, work, artifacts, keep;
    int seconds = 60, jobs = 2, timeout = 5;
    std::uint64_t seed = 1;
};

struct Seed {
    std::size_t format;
    fs::path copy;          // the model, in a copy of its folder's small files
    std::string extension;  // in lower case
    std::string bytes;
};

struct Counts {
    std::size_t tried = 0, pictures = 0, errors = 0, crashed = 0, gave_up = 0, memory = 0, failures = 0;
};

std::string lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string read_file(const fs::path &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Each model with the small files of its folder copied beside it, so that
// the buffers and material libraries it names are there and inside.
std::vector<Seed> gather_seeds(const Options &options)
{
    std::vector<Seed> seeds;
    std::map<fs::path, fs::path> copies;
    for (std::size_t f = 0; f < std::size(formats); ++f) {
        const fs::path folder = fs::path(options.models) / formats[f].folder;
        if (!fs::is_directory(folder))
            continue;
        for (const auto &entry : fs::recursive_directory_iterator(folder)) {
            const std::string extension = lower(entry.path().extension().string());
            const auto &wanted = formats[f].extensions;
            if (!entry.is_regular_file() || entry.file_size() > largest_seed ||
                std::find(wanted.begin(), wanted.end(), extension) == wanted.end())
                continue;
            fs::path &copy = copies[entry.path().parent_path()];
            if (copy.empty()) {
                copy = fs::path(options.work) / "seeds" / std::to_string(copies.size());
                fs::create_directories(copy);
                for (const auto &sibling : fs::directory_iterator(entry.path().parent_path())) {
                    if (sibling.is_regular_file() && sibling.file_size() <= 4 * largest_seed)
                        fs::copy_file(sibling.path(), copy / sibling.path().filename());
                }
            }
            seeds.push_back({f, copy, extension, read_file(entry.path())});
        }
    }
    return seeds;
}

// The ways files break: flipped bits, stray bytes, a cut, numbers and binary
// counts made huge or negative, a piece lost or repeated.
std::string mutate(std::string bytes, std::mt19937_64 &random)
{
    const auto pick = [&](std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(random() % n); };
    const int count = 1 + static_cast<int>(pick(3));
    for (int m = 0; m < count && !bytes.empty(); ++m) {
        switch (pick(6)) {
        case 0:
            for (std::size_t i = 0, n = 1 + pick(8); i < n; ++i)
                bytes[pick(bytes.size())] ^= static_cast<char>(1 << pick(8));
            break;
        case 1: {
            const char stray[] = {'\0', '\xff', '\x7f', '\x80', '\n', ' ', '-', '9', '{', '"'};
            for (std::size_t i = 0, n = 1 + pick(4); i < n; ++i)
                bytes[pick(bytes.size())] = stray[pick(sizeof stray)];
            break;
        }
        case 2:
            bytes.resize(pick(bytes.size()));
            break;
        case 3: {
            // A number in the text, or four bytes of a binary file.
            const char *huge[] = {"4294967295", "2147483647", "-1", "99999999999999999999", "0", "1e38", "nan",
                                  "-2147483648"};
            std::size_t at = pick(bytes.size());
            while (at < bytes.size() && !std::isdigit(static_cast<unsigned char>(bytes[at])))
                ++at;
            if (at < bytes.size() && pick(2) == 0) {
                std::size_t end = at;
                while (end < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[end])))
                    ++end;
                bytes.replace(at, end - at, huge[pick(std::size(huge))]);
            } else if (bytes.size() >= 4) {
                const std::uint32_t values[] = {0xffffffffu, 0x7fffffffu, 0x80000000u, 0u, 0x10000000u, 0xfffffu};
                const std::uint32_t value = values[pick(std::size(values))];
                std::memcpy(&bytes[pick(bytes.size() / 4) * 4], &value, 4);
            }
            break;
        }
        case 4: {
            const std::size_t at = pick(bytes.size());
            bytes.erase(at, 1 + pick(256));
            break;
        }
        default: {
            const std::size_t at = pick(bytes.size());
            const std::string piece = bytes.substr(at, 1 + pick(256));
            bytes.insert(pick(bytes.size() + 1), piece);
            break;
        }
        }
    }
    return bytes;
}

struct Run {
    pid_t pid = 0;
    std::size_t format = 0;
    fs::path scene, folder;
    Clock::time_point deadline;
};

Run start(const Options &options, const Seed &seed, const std::string &bytes, int job)
{
    Run run;
    run.format = seed.format;
    run.folder = fs::path(options.work) / ("job-" + std::to_string(job));
    fs::create_directories(run.folder);
    run.scene = seed.copy / ("mutant-" + std::to_string(job) + seed.extension);
    std::ofstream(run.scene, std::ios::binary) << bytes;
    fs::remove(run.folder / "out.png");

    const std::string arguments[] = {options.program,        "--scene",    run.scene.string(),
                                     "--width",              "16",         "--height",
                                     "16",                   "--set",      "samples=2",
                                     "--threads",            "1",          "--import-timeout",
                                     std::to_string(options.timeout), "--output", (run.folder / "out.png").string()};
    std::vector<char *> argv;
    for (const std::string &a : arguments)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (run.folder / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (run.folder / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&run.pid, options.program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "import_campaign: cannot start %s\n", options.program.c_str());
        std::exit(2);
    }
    posix_spawn_file_actions_destroy(&actions);
    // A render of 16 by 16 pixels takes no time beside the import.
    run.deadline = Clock::now() + std::chrono::seconds(options.timeout + 60);
    return run;
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

bool readable(const std::string &line, std::size_t limit)
{
    return line.size() <= limit && std::none_of(line.begin(), line.end(), [](char c) {
               return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
           });
}

// What the run's end and output say: "" for a picture or a clean error
// (counted), else what is wrong.
std::string judge(const Run &run, int status, bool hung, Counts &counts)
{
    if (hung)
        return "umbrex-render did not end within the import time-out and a minute";
    if (WIFSIGNALED(status))
        return std::string("umbrex-render was stopped by ") + strsignal(WTERMSIG(status));
    const int code = WEXITSTATUS(status);
    const std::vector<std::string> out = lines_of(read_file(run.folder / "stdout"));
    const std::vector<std::string> messages = lines_of(read_file(run.folder / "stderr"));
    const std::string prefix = "umbrex-render: " + run.scene.string() + ": ";
    // The file's name and then at most about 240 characters of the importer's.
    const std::size_t limit = prefix.size() + 260;
    if (code == 0) {
        if (out.size() != 1 || !fs::exists(run.folder / "out.png"))
            return "a success without its summary or its picture";
        for (const std::string &line : messages) {
            if (line.rfind("umbrex-render: warning: ", 0) != 0 || !readable(line, limit + 9))
                return "a warning that is not one readable line: " + line.substr(0, 300);
        }
        ++counts.pictures;
        return {};
    }
    if ((code != 1 && code != 2) || !out.empty() || messages.size() != 1)
        return "exit status " + std::to_string(code) + " with " + std::to_string(messages.size()) + " lines";
    const std::string &line = messages.front();
    if (line.rfind(prefix, 0) != 0 || !readable(line, limit))
        return "an error that is not one readable line naming the file: " + line.substr(0, 300);
    if (line.find("the importer's answer is malformed") != std::string::npos)
        return "the program found fault with its own importer's answer: " + line.substr(0, 300);
    ++counts.errors;
    // Under the sanitizers a crash ends the importer with their report's exit status.
    counts.crashed += line.find("the importer crashed on it") != std::string::npos ||
                      line.find("the importer stopped without an answer") != std::string::npos;
    counts.gave_up += line.find(": gave up after") != std::string::npos;
    counts.memory += line.find("the importer needed more than") != std::string::npos;
    return {};
}

bool parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--program") options.program = value;
        else if (key == "--models") options.models = value;
        else if (key == "--work") options.work = value;
        else if (key == "--artifacts") options.artifacts = value;
        else if (key == "--seconds") options.seconds = std::atoi(value.c_str());
        else if (key == "--seed") options.seed = std::strtoull(value.c_str(), nullptr, 10);
        else if (key == "--jobs") options.jobs = std::max(1, std::atoi(value.c_str()));
        else if (key == "--timeout") options.timeout = std::max(1, std::atoi(value.c_str()));
        else if (key == "--keep") options.keep = value;
        else return false;
    }
    return argc % 2 == 1 && !options.program.empty() && !options.models.empty() && !options.work.empty() &&
           !options.artifacts.empty();
}

}  // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: import_campaign --program PATH --models FOLDER --work FOLDER --artifacts FOLDER "
                             "[--seconds N] [--seed N] [--jobs N] [--timeout N] [--keep FOLDER]\n");
        return 2;
    }
    fs::create_directories(options.artifacts);
    const std::vector<Seed> seeds = gather_seeds(options);
    if (seeds.empty()) {
        std::fprintf(stderr, "import_campaign: %s: no scene file of a format tried here\n", options.models.c_str());
        return 2;
    }
    std::vector<std::vector<std::size_t>> by_format(std::size(formats));
    for (std::size_t i = 0; i < seeds.size(); ++i)
        by_format[seeds[i].format].push_back(i);

    std::mt19937_64 random(options.seed);
    std::vector<Counts> counts(std::size(formats));
    std::vector<Run> running(static_cast<std::size_t>(options.jobs));
    std::vector<bool> busy(running.size(), false);
    const Clock::time_point end = Clock::now() + std::chrono::seconds(options.seconds);
    std::size_t next_format = 0, failures = 0, kept = 0;
    while (true) {
        bool any_busy = false;
        for (std::size_t job = 0; job < running.size(); ++job) {
            Run &run = running[job];
            if (busy[job]) {
                int status = 0;
                bool hung = false;
                if (waitpid(run.pid, &status, WNOHANG) != run.pid) {
                    if (Clock::now() < run.deadline) {
                        any_busy = true;
                        continue;
                    }
                    kill(run.pid, SIGKILL);
                    waitpid(run.pid, &status, 0);
                    hung = true;
                }
                busy[job] = false;
                Counts &c = counts[run.format];
                ++c.tried;
                const std::size_t reader_faults = c.crashed + c.gave_up + c.memory;
                const std::string fault = judge(run, status, hung, c);
                if (!options.keep.empty() && c.crashed + c.gave_up + c.memory > reader_faults) {
                    fs::create_directories(options.keep);
                    const std::string name = std::string(formats[run.format].folder) + "-" + std::to_string(++kept);
                    fs::copy_file(run.scene, fs::path(options.keep) / (name + run.scene.extension().string()),
                                  fs::copy_options::overwrite_existing);
                    std::ofstream(fs::path(options.keep) / (name + ".txt")) << read_file(run.folder / "stderr");
                }
                if (!fault.empty()) {
                    ++c.failures;
                    const std::string name = std::string(formats[run.format].folder) + "-" + std::to_string(++failures);
                    fs::copy_file(run.scene, fs::path(options.artifacts) / (name + run.scene.extension().string()),
                                  fs::copy_options::overwrite_existing);
                    std::ofstream(fs::path(options.artifacts) / (name + ".txt"))
                        << fault << "\n" << read_file(run.folder / "stderr");
                    std::fprintf(stderr, "import_campaign: %s: %s\n", name.c_str(), fault.c_str());
                }
            }
            if (Clock::now() >= end)
                continue;
            // Formats in turn, so that each gets its share.
            std::size_t format = next_format;
            while (by_format[format].empty())
                format = (format + 1) % std::size(formats);
            next_format = (format + 1) % std::size(formats);
            const Seed &seed = seeds[by_format[format][random() % by_format[format].size()]];
            run = start(options, seed, mutate(seed.bytes, random), static_cast<int>(job));
            busy[job] = true;
            any_busy = true;
        }
        if (!any_busy && Clock::now() >= end)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

    std::printf("| format | files tried | pictures | clean errors | of which the importer crashed | hung | ran out of "
                "memory | failures |\n|---|---|---|---|---|---|---|---|\n");
    Counts total;
    for (std::size_t f = 0; f < std::size(formats); ++f) {
        const Counts &c = counts[f];
        if (c.tried == 0)
            continue;
        std::printf("| %s | %zu | %zu | %zu | %zu | %zu | %zu | %zu |\n", formats[f].name, c.tried, c.pictures,
                    c.errors, c.crashed, c.gave_up, c.memory, c.failures);
        total.tried += c.tried, total.pictures += c.pictures, total.errors += c.errors, total.crashed += c.crashed;
        total.gave_up += c.gave_up, total.memory += c.memory, total.failures += c.failures;
    }
    std::printf("| all | %zu | %zu | %zu | %zu | %zu | %zu | %zu |\n", total.tried, total.pictures, total.errors,
                total.crashed, total.gave_up, total.memory, total.failures);
    return total.failures == 0 ? 0 : 1;
}
