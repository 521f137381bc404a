#include "preview/shading/attached_images.h"

#include <sys/stat.h>

#include <algorithm>

std::shared_ptr<const LatLongImage> AttachedImages::read(const std::string &path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)  // the reader says what is wrong with it
        return std::make_shared<const LatLongImage>(path);
    const std::array<long long, 7> file = {static_cast<long long>(status.st_dev), static_cast<long long>(status.st_ino),
                                           static_cast<long long>(status.st_size), status.st_mtim.tv_sec,
                                           status.st_mtim.tv_nsec, status.st_ctim.tv_sec, status.st_ctim.tv_nsec};

    // One at a time: two renders of a look wait for one reading.
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = std::find_if(kept_.begin(), kept_.end(), [&](const Kept &k) { return k.path == path; });
    if (found != kept_.end() && found->file == file)
        return found->image;
    auto image = std::make_shared<const LatLongImage>(path);
    if (found != kept_.end())
        *found = {path, file, image};
    else
        kept_.push_back({path, file, image});
    return image;
}
