// The program's own pictures, drawn in code: the icon, the small logo of
// the main window and the folder pictures of the directory list.
#pragma once

#include <QIcon>
#include <QImage>

namespace dxfkonv {

// The program's icon at size × size pixels: a drawing sheet with a
// two-way arrow. Drawn without a windowing system, for the installed files too.
QImage DrawIcon(int size);

// The window icon in the usual sizes.
QIcon AppIcon();

// The logo under the main window's panels, 66 × 20, transparent around it.
QImage DrawLogo();

enum class FolderPicture { Closed, Opened, Current };

// A folder picture for the directory list, 16 × 16.
QImage DrawFolder(FolderPicture kind);

}  // namespace dxfkonv
