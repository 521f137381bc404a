#include "preview/import/scene_transfer.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include "preview/printable_text.h"

namespace {

// Both ends are the same program, so plain values travel as their bytes.
static_assert(sizeof(std::size_t) == sizeof(std::uint64_t));
constexpr char tag[8] = {'U', 'M', 'B', 'R', 'E', 'X', 'S', 'C'};
constexpr char end_mark[8] = {'E', 'N', 'D', ' ', 'S', 'C', 'E', 'N'};
constexpr std::uint32_t version = 3;
enum class AnswerKind : std::uint8_t { scene = 1, failure = 2 };

constexpr std::size_t text_limit = 1 << 20;

class TransferWriter {
public:
    explicit TransferWriter(int fd) : fd_(fd) {}

    template <typename T>
    void put(const T &value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        const auto *bytes = reinterpret_cast<const char *>(&value);
        buffer_.insert(buffer_.end(), bytes, bytes + sizeof value);
        if (buffer_.size() >= 1 << 16)
            flush();
    }

    void put(const std::string &text)
    {
        put(text.size());
        buffer_.insert(buffer_.end(), text.begin(), text.end());
    }

    template <typename T>
    void put(const std::optional<T> &value)
    {
        put(static_cast<std::uint8_t>(value.has_value()));
        if (value)
            put(*value);
    }

    // Plain values in one piece, straight from their storage.
    template <typename T>
    void put(const std::vector<T> &values)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        put(values.size());
        flush();
        write_all(values.data(), values.size() * sizeof(T));
    }

    void flush()
    {
        write_all(buffer_.data(), buffer_.size());
        buffer_.clear();
    }

private:
    void write_all(const void *data, std::size_t size)
    {
        const char *bytes = static_cast<const char *>(data);
        while (size > 0) {
            const ssize_t written = write(fd_, bytes, size);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                throw TransferError(TransferError::Kind::ended_early, std::string("cannot write: ") + std::strerror(errno));
            bytes += written;
            size -= static_cast<std::size_t>(written);
        }
    }

    int fd_;
    std::vector<char> buffer_;
};

class TransferReader {
public:
    TransferReader(int fd, std::chrono::steady_clock::time_point deadline, std::uint64_t byte_limit)
        : fd_(fd), deadline_(deadline), budget_(byte_limit)
    {
    }

    template <typename T>
    void get(T &value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        bytes(&value, sizeof value);
    }

    void get(std::string &text)
    {
        const std::size_t size = count(1);
        if (size > text_limit)
            malformed("a text of " + std::to_string(size) + " bytes");
        text.resize(size);
        bytes(text.data(), size);
        text = printable(text);
    }

    template <typename T>
    void get(std::optional<T> &value)
    {
        std::uint8_t present = 0;
        get(present);
        if (present > 1)
            malformed("a flag of " + std::to_string(present));
        value.reset();
        if (present) {
            T read{};
            get(read);
            value = std::move(read);
        }
    }

    // Storage grows with what arrives, never ahead of it by more than
    // double, whatever count the answer announces.
    template <typename T>
    void get(std::vector<T> &values)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        const std::size_t total = count(sizeof(T));
        constexpr std::size_t first = std::max<std::size_t>(1, (std::size_t{64} << 20) / sizeof(T));
        values.clear();
        std::size_t done = 0;
        while (done < total) {
            values.resize(std::min(total, std::max(first, 2 * done)));
            bytes(values.data() + done, (values.size() - done) * sizeof(T));
            done = values.size();
        }
    }

    // A count of items `size` bytes each, charged to the budget.
    std::size_t count(std::size_t size)
    {
        std::uint64_t items = 0;
        get(items);
        if (items > budget_ / size)
            malformed("a count of " + std::to_string(items) + " beyond the " + std::to_string(budget_) +
                      " bytes the answer may still hold");
        budget_ -= items * size;
        return static_cast<std::size_t>(items);
    }

    void bytes(void *data, std::size_t size)
    {
        char *out = static_cast<char *>(data);
        const std::size_t buffered = std::min(size, end_ - start_);
        std::memcpy(out, buffer_ + start_, buffered);
        start_ += buffered;
        out += buffered;
        size -= buffered;
        // Large reads go straight to their storage, small ones through the buffer.
        while (size >= sizeof buffer_) {
            const std::size_t got = read_some(out, size);
            out += got;
            size -= got;
        }
        while (size > 0) {
            start_ = 0;
            end_ = read_some(buffer_, sizeof buffer_);
            const std::size_t taken = std::min(size, end_);
            std::memcpy(out, buffer_, taken);
            start_ = taken;
            out += taken;
            size -= taken;
        }
    }

    // Nothing may follow the end mark.
    void expect_end()
    {
        char extra;
        if (start_ < end_ || read_some(&extra, 1, false) > 0)
            malformed("bytes after its end");
    }

    [[noreturn]] static void malformed(const std::string &what)
    {
        throw TransferError(TransferError::Kind::malformed, "the importer's answer is malformed: " + what);
    }

private:
    std::size_t read_some(void *data, std::size_t size, bool required = true)
    {
        while (true) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                throw TransferError(TransferError::Kind::timed_out, "the importer took too long");
            pollfd ready{fd_, POLLIN, 0};
            const int polled = poll(&ready, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
            if (polled < 0 && errno != EINTR)
                throw TransferError(TransferError::Kind::ended_early, std::string("cannot wait: ") + std::strerror(errno));
            if (polled <= 0)
                continue;
            const ssize_t got = read(fd_, data, size);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got > 0)
                return static_cast<std::size_t>(got);
            if (required)
                throw TransferError(TransferError::Kind::ended_early, "the importer's answer ends early");
            return 0;
        }
    }

    int fd_;
    std::chrono::steady_clock::time_point deadline_;
    std::uint64_t budget_;
    char buffer_[1 << 16];
    std::size_t start_ = 0, end_ = 0;
};

// Each structure's fields, in the same order on both sides.

void write_fields(TransferWriter &out, const Mesh &mesh)
{
    out.put(mesh.positions);
    out.put(mesh.triangles);
    out.put(mesh.corner_normals);
    out.put(mesh.uv_sets.size());
    for (const UVSet &set : mesh.uv_sets)
        out.put(set);
    out.put(mesh.origin);
}

void read_fields(TransferReader &in, Mesh &mesh)
{
    in.get(mesh.positions);
    in.get(mesh.triangles);
    in.get(mesh.corner_normals);
    // Sets are added as they arrive, whatever count the answer announces.
    const std::size_t sets = in.count(sizeof(UVSet));  // each as it is held, not as it is sent
    mesh.uv_sets.clear();
    for (std::size_t i = 0; i < sets; ++i)
        in.get(mesh.uv_sets.emplace_back());
    in.get(mesh.origin);
}

void write_list(TransferWriter &out, const std::vector<std::string> &texts);
void read_list(TransferReader &in, std::vector<std::string> &texts);

void write_fields(TransferWriter &out, const MeshSummary &summary)
{
    out.put(summary.name);
    out.put(summary.triangles);
    out.put(summary.placements);
    out.put(summary.hidden);
    write_list(out, summary.nodes);
    out.put(summary.low);
    out.put(summary.high);
}

void read_fields(TransferReader &in, MeshSummary &summary)
{
    in.get(summary.name);
    in.get(summary.triangles);
    in.get(summary.placements);
    in.get(summary.hidden);
    read_list(in, summary.nodes);
    in.get(summary.low);
    in.get(summary.high);
}

void write_fields(TransferWriter &out, const SceneCamera &camera)
{
    out.put(camera.name);
    out.put(camera.eye);
    out.put(camera.direction);
    out.put(camera.horizontal_fov);
    out.put(camera.aspect);
    out.put(camera.vertical_fov);
}

void read_fields(TransferReader &in, SceneCamera &camera)
{
    in.get(camera.name);
    in.get(camera.eye);
    in.get(camera.direction);
    in.get(camera.horizontal_fov);
    in.get(camera.aspect);
    in.get(camera.vertical_fov);
}

// Lists of structures: a count, then each one's fields.
template <typename T>
void write_list(TransferWriter &out, const std::vector<T> &items)
{
    out.put(items.size());
    for (const T &item : items)
        write_fields(out, item);
}

// Items are added as they arrive, whatever count the answer announces.
template <typename T>
void read_list(TransferReader &in, std::vector<T> &items)
{
    const std::size_t count = in.count(8);  // each takes 8 bytes at least
    items.clear();
    for (std::size_t i = 0; i < count; ++i) {
        T item{};
        read_fields(in, item);
        items.push_back(std::move(item));
    }
}

void write_list(TransferWriter &out, const std::vector<std::string> &texts)
{
    out.put(texts.size());
    for (const std::string &text : texts)
        out.put(text);
}

void read_list(TransferReader &in, std::vector<std::string> &texts)
{
    const std::size_t count = in.count(8);
    texts.clear();
    for (std::size_t i = 0; i < count; ++i) {
        std::string text;
        in.get(text);
        texts.push_back(std::move(text));
    }
}

void write_fields(TransferWriter &out, const LoadedScene &loaded)
{
    write_fields(out, loaded.mesh);
    write_list(out, loaded.warnings);
    write_list(out, loaded.meshes);
}

void read_fields(TransferReader &in, LoadedScene &loaded)
{
    read_fields(in, loaded.mesh);
    read_list(in, loaded.warnings);
    read_list(in, loaded.meshes);
}

void write_fields(TransferWriter &out, const ImportedScene &scene)
{
    write_fields(out, scene.loaded);
    out.put(scene.format);
    write_list(out, scene.cameras);
    out.put(scene.up);
    out.put(scene.up_note);
    out.put(scene.units_per_metre);
    out.put(scene.units_note);
    out.put(scene.holds);
}

void read_fields(TransferReader &in, ImportedScene &scene)
{
    read_fields(in, scene.loaded);
    in.get(scene.format);
    read_list(in, scene.cameras);
    in.get(scene.up);
    in.get(scene.up_note);
    in.get(scene.units_per_metre);
    in.get(scene.units_note);
    in.get(scene.holds);
}

// What the program relies on: triangles, or what the file holds instead; a
// normal triple per triangle and a UV triple per triangle in each set,
// indices into the positions, finite coordinates within the tracer's reach,
// finite bounds of each mesh, a known up axis and units above zero. Cameras
// are checked where they are used; UVs where a bake lays them out.
void check(const ImportedScene &scene)
{
    const Mesh &mesh = scene.loaded.mesh;
    const auto fault = TransferReader::malformed;
    if (mesh.triangles.empty() && scene.holds.empty())
        fault("no triangles, and nothing said of what the file holds");
    for (const MeshSummary &summary : scene.loaded.meshes) {
        if (!is_finite(summary.low) || !is_finite(summary.high))
            fault("the bounds of mesh \"" + summary.name + "\" are not finite");
    }
    if (mesh.corner_normals.size() != mesh.triangles.size())
        fault(std::to_string(mesh.corner_normals.size()) + " normal triples for " +
              std::to_string(mesh.triangles.size()) + " triangles");
    for (const UVSet &set : mesh.uv_sets) {
        if (set.size() != mesh.triangles.size())
            fault("a UV set of " + std::to_string(set.size()) + " triples for " +
                  std::to_string(mesh.triangles.size()) + " triangles");
    }
    if (mesh.positions.size() > std::numeric_limits<std::uint32_t>::max())
        fault(std::to_string(mesh.positions.size()) + " vertices");
    // Each check runs through without a branch, and looks for the culprit
    // only where it fails: the program waits for them on a large scene.
    std::uint32_t largest = 0;
    for (const auto &t : mesh.triangles)
        largest = std::max({largest, t[0], t[1], t[2]});
    if (largest >= mesh.positions.size()) {
        for (std::size_t t = 0; t < mesh.triangles.size(); ++t) {
            for (const std::uint32_t index : mesh.triangles[t]) {
                if (index >= mesh.positions.size())
                    fault("triangle " + std::to_string(t + 1) + " refers to vertex " + std::to_string(index + 1) +
                          " of " + std::to_string(mesh.positions.size()));
            }
        }
    }
    // The importer centres the mesh on its origin; a little over its reach
    // for rounding. NaN fails every comparison.
    constexpr float reach = static_cast<float>(max_scene_reach * 1.001);
    const auto within = [](Vec3 p, float bound) {
        return (std::abs(p.x) <= bound) & (std::abs(p.y) <= bound) & (std::abs(p.z) <= bound);
    };
    bool positions_within = true;
    for (const Vec3 &p : mesh.positions)
        positions_within &= within(p, reach);
    if (!positions_within) {
        for (std::size_t v = 0; v < mesh.positions.size(); ++v) {
            if (!within(mesh.positions[v], reach))
                fault("vertex " + std::to_string(v + 1) + " is not a finite point within reach");
        }
    }
    if (!is_finite(mesh.origin))
        fault("the mesh's origin is not finite");
    constexpr float largest_float = std::numeric_limits<float>::max();
    bool normals_finite = true;
    for (const auto &corners : mesh.corner_normals)
        normals_finite &= within(corners[0], largest_float) & within(corners[1], largest_float) &
                          within(corners[2], largest_float);
    if (!normals_finite) {
        for (std::size_t t = 0; t < mesh.corner_normals.size(); ++t) {
            for (const Vec3 &n : mesh.corner_normals[t]) {
                if (!within(n, largest_float))
                    fault("a normal of triangle " + std::to_string(t + 1) + " is not finite");
            }
        }
    }
    if (scene.up && !is_up_axis(*scene.up))
        fault("an up axis that is none of the six");
    if (scene.units_per_metre && !(std::isfinite(*scene.units_per_metre) && *scene.units_per_metre > 0.0))
        fault("units per metre that are not a positive number");
}

void write_header(TransferWriter &out, AnswerKind kind)
{
    out.put(tag);
    out.put(version);
    out.put(kind);
}

}  // namespace

void send_scene(int fd, const ImportedScene &scene)
{
    TransferWriter out(fd);
    write_header(out, AnswerKind::scene);
    write_fields(out, scene);
    out.put(end_mark);
    out.flush();
}

void send_failure(int fd, const std::string &message)
{
    TransferWriter out(fd);
    write_header(out, AnswerKind::failure);
    out.put(message);
    out.put(end_mark);
    out.flush();
}

ImportAnswer receive_answer(int fd, std::chrono::steady_clock::time_point deadline, std::uint64_t byte_limit)
{
    TransferReader in(fd, deadline, byte_limit);
    char read_tag[sizeof tag];
    std::uint32_t read_version = 0;
    AnswerKind kind{};
    in.get(read_tag);
    in.get(read_version);
    in.get(kind);
    if (std::memcmp(read_tag, tag, sizeof tag) != 0 || read_version != version)
        TransferReader::malformed("not an answer of this version of umbrex-render");

    ImportAnswer answer;
    if (kind == AnswerKind::scene) {
        answer.scene.emplace();
        read_fields(in, *answer.scene);
    } else if (kind == AnswerKind::failure) {
        in.get(answer.failure);
    } else {
        TransferReader::malformed("an answer of kind " + std::to_string(static_cast<int>(kind)));
    }
    char read_end[sizeof end_mark];
    in.get(read_end);
    if (std::memcmp(read_end, end_mark, sizeof end_mark) != 0)
        TransferReader::malformed("no end mark after the scene");
    in.expect_end();
    if (answer.scene)
        check(*answer.scene);
    return answer;
}
