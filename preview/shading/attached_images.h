// The images attached to parameters, read once and kept while their file is
// unchanged: a look-dev session checks and renders the same attachment for
// every pass of every look, and a large HDR takes long to decode.
#ifndef UMBREX_PREVIEW_ATTACHED_IMAGES_H
#define UMBREX_PREVIEW_ATTACHED_IMAGES_H

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "preview/shading/environment.h"

class AttachedImages {
public:
    // The HDR image at `path`: the one kept for it, unless the file is
    // another or has changed (its device and inode, size, or times of change
    // of content and status differ), in which case it is read again. Throws
    // EnvironmentError for an unreadable image.
    std::shared_ptr<const LatLongImage> read(const std::string &path);

private:
    struct Kept {
        std::string path;
        std::array<long long, 7> file;  // what tells the file and its version apart
        std::shared_ptr<const LatLongImage> image;
    };
    std::mutex mutex_;
    std::vector<Kept> kept_;
};

#endif
