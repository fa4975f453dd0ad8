#include "engine/replace/Drawings.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "engine/IoError.h"

namespace dxfkonv {

Drawing Drawing::FromPath(const std::string& path)
{
    PathParts parts = SplitPath(path);
    Drawing drawing{std::move(parts.directory), std::move(parts.name)};
    drawing.named = path;
    return drawing;
}

std::string Drawing::Path() const { return JoinPath(directory, name); }

Found Drawing::Find(FileSystem& fs) const { return opened ? opened->find(name) : fs.find(directory, name); }

namespace {

// The drawings of the open directory `dir` (at `path`), then, with
// `recursive`, those of its subdirectories. Holds one directory open for
// each level of the tree it is in, and none it is done with.
void walk(const std::shared_ptr<Directory>& dir, const std::string& path, bool recursive,
          const std::function<bool(const std::string&, const std::string&)>& before,
          const std::function<void(const Drawing&)>& each,
          const std::function<void(const std::string&, const IoError&)>& failed)
{
    DirectoryListing listing;
    try {
        listing = dir->list();
    } catch (const IoError& e) {
        failed(path, e);
        return;
    }
    std::sort(listing.drawings.begin(), listing.drawings.end(), before);
    for (auto& name : listing.drawings)
        each(Drawing{path, std::move(name), dir});
    if (!recursive)
        return;
    std::vector<std::string> subdirectories;
    for (const auto& sub : listing.subdirectories)
        if (!sub.link)
            subdirectories.push_back(sub.name);
    std::sort(subdirectories.begin(), subdirectories.end(), before);
    for (const auto& name : subdirectories) {
        const std::string subPath = Drawing{path, name}.Path();
        std::unique_ptr<Directory> sub;
        try {
            sub = dir->openSubdirectory(name);
        } catch (const IoError& e) {
            failed(subPath, e);
            continue;
        }
        if (sub)  // else a link, or no directory, by now: not followed
            walk(std::move(sub), subPath, recursive, before, each, failed);
    }
}

// The directory `path`, or IoError.
std::unique_ptr<Directory> openListable(FileSystem& fs, const std::string& path)
{
    auto dir = fs.openDirectory(path);
    if (!dir)
        throw IoError(kFileNotFound, "no such directory");
    return dir;
}

}  // namespace

bool NamesSameFile(const std::string& a, const std::string& b, FileSystem& fs)
{
    try {
        const Drawing x = Drawing::FromPath(a);
        const Drawing y = Drawing::FromPath(b);
        const Found first = x.Find(fs);
        const Found second = y.Find(fs);
        return first.state && second.state && first.state->key == second.state->key;
    } catch (const IoError&) {
        return false;
    }
}

DirectoryListing ListDirectory(const std::string& directory, FileSystem& fs)
{
    return openListable(fs, directory)->list();
}

void WalkDrawings(const std::string& directory, bool recursive,
                  const std::function<bool(const std::string&, const std::string&)>& before,
                  const std::function<void(const Drawing&)>& each,
                  const std::function<void(const std::string&, const IoError&)>& failed, FileSystem& fs)
{
    std::shared_ptr<Directory> top;
    try {
        top = openListable(fs, directory);
    } catch (const IoError& e) {
        failed(directory, e);
        return;
    }
    walk(top, directory, recursive, before, each, failed);
}

}  // namespace dxfkonv
