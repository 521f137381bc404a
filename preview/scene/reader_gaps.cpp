#include "preview/scene/reader_gaps.h"

#include <unistd.h>
#include <unzip.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <vector>

#include "preview/scene/scene_folder.h"

namespace {

// At most `limit` bytes from the start of an open descriptor, which is closed.
std::vector<unsigned char> read_start(int fd, std::size_t limit)
{
    std::vector<unsigned char> bytes;
    if (fd < 0)
        return bytes;
    unsigned char buffer[1 << 16];
    for (ssize_t got; bytes.size() < limit && (got = read(fd, buffer, sizeof buffer)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + std::min<std::size_t>(static_cast<std::size_t>(got), limit - bytes.size()));
    close(fd);
    return bytes;
}

// An attribute's value in the first start tag of `element` in XML text.
std::string attribute(const std::string &xml, const std::string &element, const std::string &name)
{
    std::size_t tag = xml.find("<" + element);
    while (tag != std::string::npos && std::isalnum(static_cast<unsigned char>(xml[tag + 1 + element.size()])))
        tag = xml.find("<" + element, tag + 1);
    if (tag == std::string::npos)
        return {};
    const std::size_t end = xml.find('>', tag);
    const std::string start_tag = xml.substr(tag, end == std::string::npos ? std::string::npos : end - tag);
    for (std::size_t at = start_tag.find(name); at != std::string::npos; at = start_tag.find(name, at + 1)) {
        std::size_t p = at + name.size();
        if (!std::isspace(static_cast<unsigned char>(start_tag[at - 1])))
            continue;
        while (p < start_tag.size() && std::isspace(static_cast<unsigned char>(start_tag[p])))
            ++p;
        if (p >= start_tag.size() || start_tag[p] != '=')
            continue;
        ++p;
        while (p < start_tag.size() && std::isspace(static_cast<unsigned char>(start_tag[p])))
            ++p;
        if (p >= start_tag.size() || (start_tag[p] != '"' && start_tag[p] != '\''))
            continue;
        const std::size_t close = start_tag.find(start_tag[p], p + 1);
        if (close != std::string::npos)
            return start_tag.substr(p + 1, close - p - 1);
    }
    return {};
}

class ZipReader {
public:
    explicit ZipReader(const std::string &path) : zip_(unzOpen64(path.c_str())) {}
    ~ZipReader()
    {
        if (zip_)
            unzClose(zip_);
    }
    ZipReader(const ZipReader &) = delete;
    ZipReader &operator=(const ZipReader &) = delete;

    // The start of the first entry whose name ends with `suffix`, preferring `name`.
    std::string read_start(const char *name, const char *suffix, std::size_t limit)
    {
        if (!zip_)
            return {};
        if (unzLocateFile(zip_, name, 2) != UNZ_OK) {
            bool found = false;
            for (int status = unzGoToFirstFile(zip_); status == UNZ_OK && !found; status = unzGoToNextFile(zip_)) {
                char entry[512];
                if (unzGetCurrentFileInfo64(zip_, nullptr, entry, sizeof entry, nullptr, 0, nullptr, 0) != UNZ_OK)
                    return {};
                const std::size_t length = std::strlen(entry), tail = std::strlen(suffix);
                found = length >= tail && std::strcmp(entry + length - tail, suffix) == 0;
                if (found)
                    break;
            }
            if (!found)
                return {};
        }
        if (unzOpenCurrentFile(zip_) != UNZ_OK)
            return {};
        std::string text(limit, '\0');
        const int got = unzReadCurrentFile(zip_, text.data(), static_cast<unsigned>(limit));
        unzCloseCurrentFile(zip_);
        text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return text;
    }

private:
    unzFile zip_;
};

float little_endian_float(const unsigned char *bytes)
{
    const std::uint32_t bits = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                               static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::uint32_t little_endian_u32(const unsigned char *bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

std::string read_3mf_unit(SceneFolder &folder)
{
    const int fd = folder.open(folder.scene_file());
    if (fd < 0)
        return {};
    // The package is opened through the descriptor the folder allowed.
    ZipReader package("/proc/self/fd/" + std::to_string(fd));
    const std::string model = package.read_start("3D/3dmodel.model", ".model", 1 << 16);
    close(fd);
    if (model.find("<model") == std::string::npos)
        return {};
    const std::string unit = attribute(model, "model", "unit");
    return unit.empty() ? "millimeter" : unit;
}

std::optional<double> units_per_metre_of_3mf(const std::string &unit)
{
    const std::pair<const char *, double> units[] = {{"micron", 1e6},      {"millimeter", 1e3}, {"centimeter", 1e2},
                                                     {"inch", 1.0 / 0.0254}, {"foot", 1.0 / 0.3048}, {"meter", 1.0}};
    for (const auto &[name, per_metre] : units) {
        if (unit == name)
            return per_metre;
    }
    return std::nullopt;
}

std::map<std::string, StatedCamera> read_3ds_cameras(SceneFolder &folder)
{
    // The editor's chunks come before the keyframer's; 64 MiB holds them in
    // any 3DS file a person would preview.
    const std::vector<unsigned char> file = read_start(folder.open(folder.scene_file()), std::size_t{64} << 20);
    std::map<std::string, StatedCamera> cameras;
    // Chunks: a 16-bit id and a 32-bit length that counts the six header
    // bytes. The main chunk holds the editor's, which holds the objects,
    // each a name and then its own chunks, among them the camera's.
    constexpr std::uint16_t main_chunk = 0x4D4D, editor = 0x3D3D, object = 0x4000, camera = 0x4700;
    const auto walk = [&](std::size_t begin, std::size_t end, auto &&visit) {
        for (std::size_t at = begin; at + 6 <= end;) {
            const std::uint16_t id = static_cast<std::uint16_t>(file[at] | file[at + 1] << 8);
            const std::uint32_t length = little_endian_u32(&file[at + 2]);
            if (length < 6 || length > end - at)
                return;
            visit(id, at + 6, at + length);
            at += length;
        }
    };
    walk(0, file.size(), [&](std::uint16_t id, std::size_t begin, std::size_t end) {
        if (id != main_chunk)
            return;
        walk(begin, end, [&](std::uint16_t id, std::size_t begin, std::size_t end) {
            if (id != editor)
                return;
            walk(begin, end, [&](std::uint16_t id, std::size_t begin, std::size_t end) {
                const auto name_end = std::find(file.begin() + static_cast<std::ptrdiff_t>(begin),
                                                file.begin() + static_cast<std::ptrdiff_t>(end), 0);
                if (id != object || name_end == file.begin() + static_cast<std::ptrdiff_t>(end))
                    return;
                const std::string name(file.begin() + static_cast<std::ptrdiff_t>(begin), name_end);
                const std::size_t children = static_cast<std::size_t>(name_end - file.begin()) + 1;
                walk(children, end, [&](std::uint16_t id, std::size_t begin, std::size_t end) {
                    if (id != camera || end - begin < 24)
                        return;
                    const auto coordinate = [&](int i) { return double(little_endian_float(&file[begin + 4 * i])); };
                    cameras.emplace(name, StatedCamera{{coordinate(0), coordinate(1), coordinate(2)},
                                                       {coordinate(3), coordinate(4), coordinate(5)}});
                });
            });
        });
    });
    return cameras;
}

std::set<std::string> read_collada_orthographic_nodes(SceneFolder &folder)
{
    const std::vector<unsigned char> bytes = read_start(folder.open(folder.scene_file()), std::size_t{64} << 20);
    const std::string xml(bytes.begin(), bytes.end());
    // The cameras whose optics are orthographic, by id.
    std::set<std::string> orthographic;
    for (std::size_t at = xml.find("<camera"); at != std::string::npos; at = xml.find("<camera", at + 1)) {
        const std::size_t end = xml.find("</camera>", at);
        const std::string camera = xml.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (camera.find("<orthographic") != std::string::npos)
            orthographic.insert(attribute(camera, "camera", "id"));
    }
    // A node's instances come before its child nodes, so the node that
    // instances a camera is the last one opened before it.
    std::set<std::string> nodes;
    for (std::size_t at = xml.find("<instance_camera"); !orthographic.empty() && at != std::string::npos;
         at = xml.find("<instance_camera", at + 1)) {
        const std::string url = attribute(xml.substr(at, 1024), "instance_camera", "url");
        const std::size_t node = xml.rfind("<node", at);
        if (url.size() < 2 || !orthographic.count(url.substr(1)) || node == std::string::npos)
            continue;
        const std::string tag = xml.substr(node, at - node);
        for (const char *name : {"id", "name"}) {
            const std::string value = attribute(tag, "node", name);
            if (!value.empty())
                nodes.insert(value);
        }
    }
    return nodes;
}
