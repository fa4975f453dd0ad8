#include "FaultySystem.h"

#include "engine/IoError.h"

namespace dxfkonv::test {

const char* seamName(Seam op)
{
    static const char* const names[] = {
        "kindOf", "openDirectory", "openSubdirectory", "reopen", "list", "find", "lookUp", "open",
        "requireReplaceable", "createWorkFile", "giveMetadata", "flush (work file)", "contentOf", "backUp",
        "replace", "flush (directory)"};
    return names[static_cast<int>(op)];
}

void FaultySystem::enter(Seam op)
{
    const int nth = ++counts_[static_cast<int>(op)];
    if (before)
        before(op, nth);
    if (fails && fails(op, nth))
        throw IoError(kInjected, std::string("failed on purpose: ") + seamName(op));
}

PathKind FaultySystem::kindOf(const std::string& path)
{
    enter(Seam::kKindOf);
    return inner_.kindOf(path);
}

std::unique_ptr<Directory> FaultySystem::openDirectory(const std::string& path)
{
    enter(Seam::kOpenDirectory);
    return inner_.openDirectory(path);
}

std::unique_ptr<Directory> FaultySystem::openSubdirectory(Directory& parent, const std::string& name)
{
    enter(Seam::kOpenSubdirectory);
    return inner_.openSubdirectory(parent, name);
}

std::unique_ptr<Directory> FaultySystem::reopen(Directory& directory)
{
    enter(Seam::kReopen);
    return inner_.reopen(directory);
}

DirectoryListing FaultySystem::list(Directory& directory)
{
    enter(Seam::kList);
    return inner_.list(directory);
}

Found FaultySystem::find(Directory* in, const std::string& path, const std::string& name)
{
    enter(Seam::kFind);
    return inner_.find(in, path, name);
}

std::optional<FileState> FaultySystem::lookUp(Directory& directory, const std::string& name)
{
    enter(Seam::kLookUp);
    return inner_.lookUp(directory, name);
}

std::unique_ptr<InputFile> FaultySystem::open(const Found& found, bool exclusive)
{
    enter(Seam::kOpen);
    return inner_.open(found, exclusive);
}

void FaultySystem::requireReplaceable(const Found& found)
{
    enter(Seam::kRequireReplaceable);
    inner_.requireReplaceable(found);
}

std::unique_ptr<WorkFile> FaultySystem::createWorkFile(Directory& directory, std::uint64_t expectedSize,
                                                       const std::string* leftBehind)
{
    enter(Seam::kCreateWorkFile);
    return inner_.createWorkFile(directory, expectedSize, leftBehind);
}

MetadataKept FaultySystem::giveMetadata(WorkFile& work, InputFile& like)
{
    enter(Seam::kGiveMetadata);
    return inner_.giveMetadata(work, like);
}

MetadataKept FaultySystem::giveMetadata(WorkFile& work, const Found& like)
{
    enter(Seam::kGiveMetadata);
    return inner_.giveMetadata(work, like);
}

MetadataKept FaultySystem::giveNewFileMetadata(WorkFile& work)
{
    enter(Seam::kGiveMetadata);
    return inner_.giveNewFileMetadata(work);
}

void FaultySystem::flush(WorkFile& work)
{
    enter(Seam::kFlushWork);
    inner_.flush(work);
}

Content FaultySystem::contentOf(InputFile& file)
{
    enter(Seam::kContentOf);
    return inner_.contentOf(file);
}

void FaultySystem::backUp(InputFile& original, Directory& directory, const std::string& backupName,
                          const std::function<void(const Content* copied)>& beforeKept)
{
    enter(Seam::kBackUp);
    inner_.backUp(original, directory, backupName, beforeKept);
}

void FaultySystem::replace(WorkFile& work, Directory& directory, const std::string& name)
{
    enter(Seam::kReplace);
    inner_.replace(work, directory, name);
}

void FaultySystem::flush(Directory& directory)
{
    // Best effort by its promise: counted, never failed.
    ++counts_[static_cast<int>(Seam::kFlushDirectory)];
    if (before)
        before(Seam::kFlushDirectory, counts_[static_cast<int>(Seam::kFlushDirectory)]);
    inner_.flush(directory);
}

}  // namespace dxfkonv::test
