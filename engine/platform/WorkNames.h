// The names a pass gives its own files beside a drawing, and how a file
// left by a killed pass is told from somebody's own: the same on every
// platform, so that either side cleans up after the other on a shared
// disk.
#pragma once

#include <cstdint>
#include <string>

namespace dxfkonv {

// Names to try for a work file while earlier ones are taken (by another
// pass, or left by a crash of an older version).
inline constexpr int kMaxWorkNames = 1000;

// The work file (kWorkFileName, kWorkFileName.1 ...) and the temporary
// name of a backup link (kWorkFileName.zal, kWorkFileName.zal1 ...); the
// first is number 0. None of them ends in ".old", as every backup's name
// does: a drawing named kWorkFileName.dxf keeps its backup as
// kWorkFileName.old, and that is never taken for a pass's own file.
std::string workName(int i);
std::string backupLinkName(int i);

// How long a file of these names must have been left alone, its content
// and its attributes, before it is taken for one a killed pass left: a
// program on another machine, or one whose locks this system cannot see
// (a Windows program and a Linux one on one shared drive), may still be
// writing it. A time in the future counts as now.
inline constexpr std::int64_t kLeftAloneSeconds = 10 * 60;

}  // namespace dxfkonv
