#include "ui/qt/FileControls.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

#include "ui/qt/Application.h"
#include "ui/qt/Artwork.h"
#include "ui/logic/Messages.h"

namespace dxfkonv {

namespace {

constexpr int kRawRole = Qt::UserRole;
constexpr int kLevelRole = Qt::UserRole + 1;
constexpr int kKindRole = Qt::UserRole + 2;

constexpr int kIndentPerLevel = 8;

// Items of one fixed height, indented by their level.
class TListItemDelegate : public QStyledItemDelegate {
public:
    TListItemDelegate(int itemHeight, QObject* parent)
        : QStyledItemDelegate(parent), fItemHeight(itemHeight)
    {
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setWidth(size.width() + indentOf(index));
        size.setHeight(fItemHeight);
        return size;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem shifted = option;
        shifted.rect.setLeft(option.rect.left() + indentOf(index));
        QStyledItemDelegate::paint(painter, shifted, index);
    }

private:
    static int indentOf(const QModelIndex& index)
    {
        return index.data(kLevelRole).toInt() * kIndentPerLevel;
    }

    int fItemHeight;
};

QIcon folderIcon(FolderPicture kind)
{
    return QIcon(QPixmap::fromImage(DrawFolder(kind)));
}

}  // namespace

// ---------------------------------------------------------------------------

TFileListBox::TFileListBox(FileSystem& fs, QWidget* parent) : QListWidget(parent), fFs(fs)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
    setItemDelegate(new TListItemDelegate(fItemHeight, this));
}

void TFileListBox::SetDirectory(const QByteArray& directory)
{
    fDirectory = directory;
    Update();
}

void TFileListBox::Update()
{
    clear();
    if (fDirectory.isEmpty())
        return;
    for (const FsName& file : ListFiles(fDirectory, fFs)) {
        auto* item = new QListWidgetItem(file.shown, this);
        item->setData(kRawRole, file.raw);
    }
}

QByteArray TFileListBox::FileName(int index) const
{
    const QListWidgetItem* entry = item(index);
    return entry ? entry->data(kRawRole).toByteArray() : QByteArray();
}

// ---------------------------------------------------------------------------

TDirectoryListBox::TDirectoryListBox(FileSystem& fs, QWidget* parent) : QListWidget(parent), fFs(fs)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setIconSize(QSize(16, 16));
    setItemDelegate(new TListItemDelegate(fItemHeight, this));
}

void TDirectoryListBox::SetDirectory(const QByteArray& directory)
{
    fDirectory = NormalisePath(directory);
    readEntries();
    if (fFileList)
        fFileList->SetDirectory(fDirectory);
    emit DirectoryChanged(fDirectory);
}

void TDirectoryListBox::readEntries()
{
    clear();
    const QList<QByteArray> chain = PathChain(fDirectory);
    for (int level = 0; level < chain.size(); ++level) {
        const bool current = level == chain.size() - 1;
        const QByteArray& path = chain[level];
        auto* item = new QListWidgetItem(
            folderIcon(current ? FolderPicture::Current : FolderPicture::Opened),
            ShownName(LastComponent(path)), this);
        item->setData(kRawRole, path);
        item->setData(kLevelRole, level);
        item->setData(kKindRole, static_cast<int>(current ? EntryKind::Current : EntryKind::Path));
    }
    const int currentRow = static_cast<int>(chain.size()) - 1;
    const int subLevel = static_cast<int>(chain.size());
    for (const FsName& sub : ListSubdirectories(fDirectory, fFs)) {
        auto* item = new QListWidgetItem(folderIcon(FolderPicture::Closed), sub.shown, this);
        item->setData(kRawRole, JoinPath(fDirectory, sub.raw));
        item->setData(kLevelRole, subLevel);
        item->setData(kKindRole, static_cast<int>(EntryKind::Subdirectory));
    }
    setCurrentRow(currentRow);
}

bool TDirectoryListBox::OpenEntry(int row)
{
    if (row < 0 || row >= count())
        return false;
    const QByteArray path = EntryPath(row);
    if (!CanReadDirectory(path)) {
        setCurrentRow(static_cast<int>(PathChain(fDirectory).size()) - 1);
        ShowErrorBox(QString::fromStdString(CannotOpenDirectoryText(ShownName(path).toStdString())));
        return false;
    }
    SetDirectory(path);
    return true;
}

void TDirectoryListBox::SetFileList(TFileListBox* fileList)
{
    fFileList = fileList;
    if (fFileList && !fDirectory.isEmpty())
        fFileList->SetDirectory(fDirectory);
}

QByteArray TDirectoryListBox::EntryPath(int row) const
{
    const QListWidgetItem* entry = item(row);
    return entry ? entry->data(kRawRole).toByteArray() : QByteArray();
}

int TDirectoryListBox::EntryLevel(int row) const
{
    const QListWidgetItem* entry = item(row);
    return entry ? entry->data(kLevelRole).toInt() : -1;
}

TDirectoryListBox::EntryKind TDirectoryListBox::EntryKindOf(int row) const
{
    const QListWidgetItem* entry = item(row);
    return entry ? static_cast<EntryKind>(entry->data(kKindRole).toInt()) : EntryKind::Path;
}

void TDirectoryListBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    QListWidget::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid())
        OpenEntry(index.row());
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OpenEntry(currentRow());
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

// ---------------------------------------------------------------------------

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent)
{
    connect(this, &QComboBox::activated, this, [this](int index) { ChooseDrive(index); });
}

void TDriveComboBox::SetDirList(TDirectoryListBox* dirList)
{
    if (fDirList)
        disconnect(fDirList, nullptr, this, nullptr);
    fDirList = dirList;
    if (!fDirList)
        return;
    connect(fDirList, &TDirectoryListBox::DirectoryChanged, this,
            [this](const QByteArray& directory) { DirectoryShown(directory); });
    if (!fDirList->Directory().isEmpty())
        DirectoryShown(fDirList->Directory());
}

void TDriveComboBox::SetVolumes(const QList<Volume>& volumes)
{
    fVolumes = volumes;
    {
        const QSignalBlocker quiet(this);
        clear();
        for (const Volume& volume : fVolumes)
            addItem(VolumeCaption(volume));
    }
    if (fDirList)
        DirectoryShown(fDirList->Directory());
}

void TDriveComboBox::Refresh()
{
    SetVolumes(MountedVolumes());
}

void TDriveComboBox::showPopup()
{
    Refresh();
    QComboBox::showPopup();
}

bool TDriveComboBox::ChooseDrive(int index)
{
    if (index < 0 || index >= fVolumes.size() || !fDirList)
        return false;
    const Volume& volume = fVolumes[index];
    QByteArray target = fLastDirectory.value(volume.root);
    if (target.isEmpty() || !CanReadDirectory(target))
        target = volume.root;
    if (!CanReadDirectory(target)) {
        selectQuietly(VolumeOf(fVolumes, fDirList->Directory()));
        ShowErrorBox(QString::fromStdString(CannotReadVolumeText(ShownName(volume.root).toStdString())));
        return false;
    }
    fDirList->SetDirectory(target);
    return true;
}

void TDriveComboBox::DirectoryShown(const QByteArray& directory)
{
    const int index = VolumeOf(fVolumes, directory);
    if (index >= 0)
        fLastDirectory.insert(fVolumes[index].root, NormalisePath(directory));
    selectQuietly(index);
}

void TDriveComboBox::selectQuietly(int index)
{
    const QSignalBlocker quiet(this);
    setCurrentIndex(index);
}

}  // namespace dxfkonv
