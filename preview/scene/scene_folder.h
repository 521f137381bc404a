// The files a scene may bring in: regular files in the scene file's own
// folder or below it, judged after every link on the way is resolved. The
// readers open the scene and whatever it refers to (glTF buffers, OBJ
// material libraries, Collada's and FBX's side files) only through here.
#ifndef UMBREX_PREVIEW_SCENE_FOLDER_H
#define UMBREX_PREVIEW_SCENE_FOLDER_H

#include <string>
#include <vector>

// What a path names, as far as reading it goes.
enum class FileKind { regular, missing, dangling_link, folder, fifo, device, socket, inaccessible };

FileKind file_kind(const std::string &path);

// "a folder", "a FIFO (a named pipe)", ...; empty for a regular file.
std::string describe(FileKind kind);

// Throws SceneError naming `path` unless it is a regular file (through any
// links): "no such scene file", "is a FIFO (a named pipe), not a scene file".
void check_scene_file(const std::string &path);

class SceneFolder {
public:
    // Resolves the scene file; throws SceneError as check_scene_file does.
    explicit SceneFolder(const std::string &path);

    // The scene file with every link resolved.
    const std::string &scene_file() const { return file_; }

    // A descriptor open for reading on the file a reference names (relative
    // to the scene's folder, or absolute), or -1 where it is missing or
    // refused. A refusal is kept: outside the folder, or not a regular file.
    int open(const std::string &reference);

    // Whether open() would give a descriptor; a refusal is kept all the same.
    bool exists(const std::string &reference);

    // One phrase per reference refused, each once:
    // "\"../../etc/passwd\" lies outside the scene's folder".
    const std::vector<std::string> &refusals() const { return refusals_; }

    // The readers' warnings for the references refused, naming `source`.
    void add_warnings(std::vector<std::string> &warnings, const std::string &source) const;

private:
    // The resolved path a reference may be read from, or empty (a refusal
    // kept where it is not missing).
    std::string resolve(const std::string &reference);
    void refuse(const std::string &reference, const std::string &why);

    std::string file_;
    std::string folder_;
    std::vector<std::string> refusals_;
};

#endif
