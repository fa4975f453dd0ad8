#include "FaultySystem.h"

#include <utility>

#include "engine/IoError.h"

namespace dxfkonv::test {

namespace {

class FaultyWorkFile final : public WorkFile {
public:
    FaultyWorkFile(FaultySystem& system, std::unique_ptr<WorkFile> inner)
        : system_(system), inner_(std::move(inner))
    {
    }
    void write(const char* data, std::size_t n) override { inner_->write(data, n); }
    FileKey key() override { return inner_->key(); }
    void flush() override
    {
        system_.enter(Seam::kFlushWork);
        inner_->flush();
    }
    MetadataKept takeMetadata() override
    {
        system_.enter(Seam::kTakeMetadata);
        return inner_->takeMetadata();
    }
    MetadataKept takeNewFileMetadata() override
    {
        system_.enter(Seam::kTakeMetadata);
        return inner_->takeNewFileMetadata();
    }
    void keep() override
    {
        system_.enter(Seam::kKeep);
        inner_->keep();
    }
    void discard() noexcept override
    {
        try {
            system_.enter(Seam::kDiscard, false);
        } catch (...) {
        }
        inner_->discard();
    }

private:
    FaultySystem& system_;
    std::unique_ptr<WorkFile> inner_;  // discards itself unless kept
};

class FaultyDrawing final : public HeldDrawing {
public:
    FaultyDrawing(FaultySystem& system, std::unique_ptr<HeldDrawing> inner)
        : system_(system), inner_(std::move(inner))
    {
    }
    std::size_t read(char* buffer, std::size_t n) override { return inner_->read(buffer, n); }
    std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t n) override
    {
        return inner_->readAt(offset, buffer, n);
    }
    FileState state() override { return inner_->state(); }
    Content contentOf() override
    {
        system_.enter(Seam::kContentOf);
        return inner_->contentOf();
    }
    void backUp(const std::string& backupName, const std::function<void(const Content* copied)>& beforeKept) override
    {
        system_.enter(Seam::kBackUp);
        inner_->backUp(backupName, beforeKept);
    }
    std::unique_ptr<WorkFile> createWorkFile(std::uint64_t expectedSize, HoldsWorkContent leftBehind) override
    {
        system_.enter(Seam::kCreateWorkFile);
        return std::make_unique<FaultyWorkFile>(system_, inner_->createWorkFile(expectedSize, leftBehind));
    }

private:
    FaultySystem& system_;
    std::unique_ptr<HeldDrawing> inner_;
};

class FaultyDirectory final : public Directory {
public:
    FaultyDirectory(FaultySystem& system, std::unique_ptr<Directory> inner)
        : system_(system), inner_(std::move(inner))
    {
    }
    FileKey key() const override { return inner_->key(); }
    DirectoryListing list() override
    {
        system_.enter(Seam::kList);
        return inner_->list();
    }
    std::optional<FileState> lookUp(const std::string& name) override
    {
        system_.enter(Seam::kLookUp);
        return inner_->lookUp(name);
    }
    Found find(const std::string& name) override
    {
        system_.enter(Seam::kFind);
        return system_.wrap(inner_->find(name));
    }
    std::unique_ptr<Directory> openSubdirectory(const std::string& name) override
    {
        system_.enter(Seam::kOpenSubdirectory);
        return system_.wrap(inner_->openSubdirectory(name));
    }
    std::unique_ptr<Directory> reopen() override
    {
        system_.enter(Seam::kReopen);
        return system_.wrap(inner_->reopen());
    }
    std::unique_ptr<HeldDrawing> open(const std::string& name, bool exclusive) override
    {
        system_.enter(Seam::kOpen);
        return std::make_unique<FaultyDrawing>(system_, inner_->open(name, exclusive));
    }
    void requireReplaceable(const std::string& name) override
    {
        system_.enter(Seam::kRequireReplaceable);
        inner_->requireReplaceable(name);
    }
    std::unique_ptr<WorkFile> createWorkFile(const std::string& name, std::uint64_t expectedSize,
                                             HoldsWorkContent leftBehind) override
    {
        system_.enter(Seam::kCreateWorkFile);
        return std::make_unique<FaultyWorkFile>(system_, inner_->createWorkFile(name, expectedSize, leftBehind));
    }
    void flush() override
    {
        system_.enter(Seam::kFlushDirectory, false);
        inner_->flush();
    }

private:
    FaultySystem& system_;
    std::unique_ptr<Directory> inner_;
};

}  // namespace

const char* seamName(Seam op)
{
    static const char* const names[] = {
        "kindOf", "openDirectory", "openSubdirectory", "reopen", "list", "find", "lookUp", "open",
        "requireReplaceable", "createWorkFile", "takeMetadata", "flush (work file)", "contentOf", "backUp",
        "keep", "flush (directory)", "discard"};
    static_assert(sizeof names / sizeof names[0] == static_cast<int>(Seam::kCount));
    return names[static_cast<int>(op)];
}

void FaultySystem::enter(Seam op, bool mayFail)
{
    const int nth = ++counts_[static_cast<int>(op)];
    if (before)
        before(op, nth);
    if (mayFail && fails && fails(op, nth))
        throw IoError(kInjected, std::string("failed on purpose: ") + seamName(op));
}

std::unique_ptr<Directory> FaultySystem::wrap(std::unique_ptr<Directory> directory)
{
    if (!directory)
        return nullptr;
    return std::make_unique<FaultyDirectory>(*this, std::move(directory));
}

Found FaultySystem::wrap(Found found)
{
    found.directory = wrap(std::move(found.directory));
    found.namedIn = wrap(std::move(found.namedIn));
    return found;
}

PathKind FaultySystem::kindOf(const std::string& path)
{
    enter(Seam::kKindOf);
    return inner_.kindOf(path);
}

std::unique_ptr<Directory> FaultySystem::openDirectory(const std::string& path)
{
    enter(Seam::kOpenDirectory);
    return wrap(inner_.openDirectory(path));
}

Found FaultySystem::find(const std::string& path, const std::string& name)
{
    enter(Seam::kFind);
    return wrap(inner_.find(path, name));
}

}  // namespace dxfkonv::test
