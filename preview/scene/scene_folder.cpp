#include "preview/scene/scene_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "preview/printable_text.h"
#include "preview/scene/mesh.h"

namespace {

// The path with every link resolved, or empty where that fails.
std::string resolved(const std::string &path)
{
    char *real = realpath(path.c_str(), nullptr);
    if (!real)
        return {};
    std::string result(real);
    std::free(real);
    return result;
}

bool is_link(const std::string &path)
{
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

}  // namespace

FileKind file_kind(const std::string &path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        if (errno == EACCES)
            return FileKind::inaccessible;
        return is_link(path) ? FileKind::dangling_link : FileKind::missing;
    }
    if (S_ISREG(status.st_mode))
        return FileKind::regular;
    if (S_ISDIR(status.st_mode))
        return FileKind::folder;
    if (S_ISFIFO(status.st_mode))
        return FileKind::fifo;
    if (S_ISSOCK(status.st_mode))
        return FileKind::socket;
    return FileKind::device;
}

std::string describe(FileKind kind)
{
    switch (kind) {
    case FileKind::regular: return {};
    case FileKind::missing: return "a file that does not exist";
    case FileKind::dangling_link: return "a link to a file that does not exist";
    case FileKind::folder: return "a folder";
    case FileKind::fifo: return "a FIFO (a named pipe)";
    case FileKind::device: return "a device";
    case FileKind::socket: return "a socket";
    case FileKind::inaccessible: return "a file that cannot be reached (permission denied)";
    }
    return {};
}

void check_scene_file(const std::string &path)
{
    const FileKind kind = file_kind(path);
    const std::string name = printable(path);
    if (kind == FileKind::missing)
        throw SceneError(name + ": no such scene file");
    if (kind == FileKind::dangling_link) {
        char target[PATH_MAX];
        const ssize_t length = readlink(path.c_str(), target, sizeof target);
        throw SceneError(name + ": is a link to " +
                         (length > 0 ? "\"" + printable(std::string(target, static_cast<std::size_t>(length))) + "\""
                                     : std::string("a file")) +
                         ", which does not exist");
    }
    if (kind != FileKind::regular)
        throw SceneError(name + ": is " + describe(kind) + ", not a scene file");
}

SceneFolder::SceneFolder(const std::string &path)
{
    check_scene_file(path);
    file_ = resolved(path);
    if (file_.empty())
        throw SceneError(printable(path) + ": no such scene file");
    folder_ = file_.substr(0, std::max<std::size_t>(file_.rfind('/'), 1));
}

void SceneFolder::refuse(const std::string &reference, const std::string &why)
{
    // Shown as the file wrote it: the readers put the folder in front.
    const std::string prefix = folder_ == "/" ? "/" : folder_ + "/";
    const std::string written = reference.rfind(prefix, 0) == 0 ? reference.substr(prefix.size()) : reference;
    const std::string refusal = "\"" + printable(written) + "\" " + why;
    if (std::find(refusals_.begin(), refusals_.end(), refusal) == refusals_.end())
        refusals_.push_back(refusal);
}

std::string SceneFolder::resolve(const std::string &reference)
{
    const std::string joined = !reference.empty() && reference[0] == '/' ? reference : folder_ + "/" + reference;
    const std::string path = resolved(joined);
    if (path.empty()) {
        if (is_link(joined))
            refuse(reference, "is " + describe(FileKind::dangling_link));
        return {};
    }
    const std::string prefix = folder_ == "/" ? "/" : folder_ + "/";
    if (path.rfind(prefix, 0) != 0) {
        refuse(reference, "lies outside the scene's folder");
        return {};
    }
    const FileKind kind = file_kind(path);
    if (kind != FileKind::regular) {
        refuse(reference, "is " + describe(kind));
        return {};
    }
    return path;
}

int SceneFolder::open(const std::string &reference)
{
    const std::string path = resolve(reference);
    if (path.empty())
        return -1;
    // Not blocking on a FIFO put in its place since, and not following a
    // link put there.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return -1;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        refuse(reference, "is not a regular file");
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool SceneFolder::exists(const std::string &reference)
{
    return !resolve(reference).empty();
}

void SceneFolder::add_warnings(std::vector<std::string> &warnings, const std::string &source) const
{
    for (const std::string &refusal : refusals_)
        warnings.push_back(source + ": not read: " + refusal);
}
