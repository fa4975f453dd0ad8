// A new exFAT file system for a test, the file system of most USB drives
// and SD cards: made in an image file, attached to a loop device and
// mounted through exfat-fuse in a temporary directory. It keeps times in
// whole seconds, a change time that is the modification time, and no hard
// links. Needs root, /dev/fuse, a free loop device, mkfs.exfat and
// mount.exfat-fuse; where any is missing it is not mounted and says why,
// for the test to skip.
#pragma once

#include <string>

#include "TestFiles.h"

namespace dxfkonv::test {

class ExfatVolume {
public:
    ExfatVolume();
    // Unmounts it and removes the image, whatever the test left in it.
    ~ExfatVolume();
    ExfatVolume(const ExfatVolume&) = delete;
    ExfatVolume& operator=(const ExfatVolume&) = delete;

    bool mounted() const { return mounted_; }
    // Why it is not mounted.
    const std::string& whyNot() const { return whyNot_; }
    // The mount point, and a name in it.
    const std::string& path() const { return mountPoint_; }
    std::string file(const std::string& name) const { return mountPoint_ + "/" + name; }

private:
    TempDir dir_;
    std::string mountPoint_;
    std::string whyNot_;
    bool mounted_ = false;
};

}  // namespace dxfkonv::test
