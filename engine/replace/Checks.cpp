// The checks before and after the writing, and what the check of a
// backup name of its own needs: the names that share it, and whether the
// directory's file system ignores case; and what a work file holds.
#include "engine/replace/Checks.h"

#include <algorithm>
#include <vector>

#include "engine/IoError.h"
#include "engine/replace/Batch.h"
#include "engine/rules/DxfRules.h"

namespace dxfkonv {

namespace {

// The names that give the same backup name as `name`: its stem (the name
// cut before its last ".") followed by ".dxf" in each of its eight letter
// cases, and the stem alone where it has no "." ("PLAN", "PLAN.dxf" and
// "PLAN.DXF" all back up to "PLAN.old"). A file system that compares
// names without regard to case finds every other spelling through these.
std::vector<std::string> namesSharingTheBackup(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    std::vector<std::string> names;
    for (unsigned upper = 0; upper < 8; ++upper) {
        std::string extension = ".dxf";
        for (unsigned i = 0; i < 3; ++i)
            if (upper & (1u << i))
                extension[i + 1] = static_cast<char>(extension[i + 1] - 'a' + 'A');
        names.push_back(stem + extension);
    }
    if (!stem.empty() && stem.find('.') == std::string::npos)
        names.push_back(stem);
    return names;
}

// What the name `name` in `directory` leads to where that is a regular
// file other than `self`: another drawing. A symbolic link counts as what
// it leads to, as a directory's listing counts it; one the pass may not
// follow still leads to a file somebody may convert, and counts too.
std::optional<FileKey> otherDrawing(Directory& directory, const std::string& name, const FileKey& self)
{
    std::optional<FileState> there;
    try {
        there = directory.lookUp(name);
    } catch (const IoError& e) {
        // A name longer than the system takes: nothing can have it.
        if (e.code() == kInvalidFilename)
            return std::nullopt;
        throw;
    }
    if (!there)
        return std::nullopt;
    if (!there->regular) {
        try {
            const Found target = directory.find(name);
            if (!target.regular())
                return std::nullopt;
            there = target.state;
        } catch (const IoError& e) {
            if (e.code() != kFileAccessDenied)
                throw;
        }
    }
    if (there->key == self)
        return std::nullopt;
    return there->key;
}

bool equalIgnoringCase(const std::string& a, const std::string& b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size()
           && std::equal(a.begin(), a.end(), b.begin(), [&lower](char x, char y) { return lower(x) == lower(y); });
}

// The other drawing's name as its directory spells it, for the message: a
// lookup on a file system that ignores case finds "plan.DXF" as
// "PLAN.dxf". Only read in the rare case of a shared backup name.
std::string spelledAsListed(Directory& directory, const std::string& looked, const FileKey& other)
{
    try {
        const DirectoryListing listing = directory.list();
        for (const std::string& name : listing.drawings)
            if (name == looked)
                return name;
        for (const std::string& name : listing.drawings) {
            const Found found = directory.find(name);
            if (found.state && found.state->key == other)
                return name;
        }
        // A file system that ignores case and numbers each spelling apart.
        for (const std::string& name : listing.drawings)
            if (equalIgnoringCase(name, looked))
                return name;
    } catch (const IoError&) {
        // Unreadable: the name looked up is near enough.
    }
    return looked;
}

// `name` with the case of each ASCII letter turned.
std::string caseTurned(const std::string& name)
{
    std::string turned = name;
    for (char& c : turned) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return turned;
}

// Whether the file system of `directory` compares names without regard to
// case, as exFAT, FAT and NTFS do: the drawing `name` (the file `self`)
// is found under its name in the other case too. Some of them (exFAT
// through FUSE) give each spelling a number of its own, so where the
// other spelling leads to another number the listing says whether that
// is a file of its own.
bool foldsCase(Directory& directory, const std::string& name, const FileKey& self)
{
    const std::string turned = caseTurned(name);
    if (turned == name)
        return false;
    const std::optional<FileState> there = directory.lookUp(turned);
    if (!there)
        return false;
    if (there->key == self)
        return true;
    const DirectoryListing listing = directory.list();
    for (const std::string& listed : listing.drawings)
        if (listed == turned)
            return false;
    return true;
}

// Refuses a drawing whose backup name another drawing of the directory
// the backup goes to also has: one backup would replace the other, and
// with it the other drawing's original. `self` is the drawing read, which
// another of its names (a hard link, a link) does not make another
// drawing. Where the file system ignores case, the other spellings of the
// drawing's own name lead to the drawing itself; `folds` says so, and is
// worked out here when the caller does not know it yet.
void requireOwnBackupName(Directory& directory, const std::string& name, const std::string& backupName,
                          const FileKey& self, std::optional<bool>& folds)
{
    for (const std::string& candidate : namesSharingTheBackup(name)) {
        if (candidate == name)
            continue;
        if (equalIgnoringCase(candidate, name)) {
            if (!folds)
                folds = foldsCase(directory, name, self);
            if (*folds)
                continue;
        }
        if (const std::optional<FileKey> other = otherDrawing(directory, candidate, self))
            throw Refusal(kSharedBackupName, spelledAsListed(directory, candidate, *other), backupName);
    }
}

}  // namespace

void requireUnchanged(const FileState& before, const FileState& now, std::uint64_t read, bool linked)
{
    if (now.size != before.size || now.modified != before.modified || (!linked && now.changed != before.changed)
        || read != before.size)
        throw IoError(kChangedMeanwhile, "its size or times changed while it was read");
}

void requireStillThere(const Found& found, const FileKey& key)
{
    const std::optional<FileState> now = found.directory->lookUp(found.name);
    if (!now || now->key != key)
        throw IoError(kFileInUse, "the name leads to another file than the one read");
}

std::unique_ptr<HeldDrawing> holdForReplace(const Found& found, const Drawing& drawing,
                                            const std::optional<std::string>& backupName, FileState& state,
                                            Batch* batch)
{
    auto in = found.directory->open(found.name, true);
    state = in->state();
    requireStillThere(found, state.key);
    found.directory->requireReplaceable(found.name);
    // The file as it is from here on: the pass checks at its end that
    // nobody changed it meanwhile.
    state = in->state();
    // The backup goes beside the name given, a link's as well.
    if (backupName) {
        Directory& backupDirectory = found.namedIn ? *found.namedIn : *found.directory;
        // Whether its file system ignores case is worked out once a batch.
        const FileKey key = batch ? backupDirectory.key() : FileKey{};
        std::optional<bool> folds = batch ? batch->foldsCase(key) : std::nullopt;
        requireOwnBackupName(backupDirectory, drawing.name, *backupName, state.key, folds);
        if (batch && folds)
            batch->rememberFoldsCase(key, *folds);
    }
    return in;
}

bool holdsWorkFileContent(std::string_view head, std::size_t capacity)
{
    if (head.empty())
        return true;
    std::string_view line = head;
    const std::size_t lf = line.find('\n');
    if (lf == std::string_view::npos && line.size() == capacity)
        return false;
    line = line.substr(0, lf);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);  // a work file's lines end in CR LF
    return IsGroupCode(Trimmed(line));
}

}  // namespace dxfkonv
