#include "preview/shading/attached_images.h"

#include <algorithm>

std::shared_ptr<const LatLongImage> AttachedImages::read(const std::string &path)
{
    std::error_code fault;
    const std::uintmax_t size = std::filesystem::file_size(path, fault);
    const std::filesystem::file_time_type changed =
        fault ? std::filesystem::file_time_type{} : std::filesystem::last_write_time(path, fault);
    if (fault)  // the reader says what is wrong with it
        return std::make_shared<const LatLongImage>(path);

    // One at a time: two renders of a look wait for one reading.
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = std::find_if(kept_.begin(), kept_.end(), [&](const Kept &k) { return k.path == path; });
    if (found != kept_.end() && found->size == size && found->changed == changed)
        return found->image;
    auto image = std::make_shared<const LatLongImage>(path);
    if (found != kept_.end())
        *found = {path, size, changed, image};
    else
        kept_.push_back({path, size, changed, image});
    return image;
}
