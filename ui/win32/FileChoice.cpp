#include "ui/win32/FileChoice.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>

#include "engine/IoError.h"
#include "engine/replace/Drawings.h"
#include "ui/win32/Paths.h"
#include "engine/platform/win32/Utf16.h"

namespace dxfkonv::win32 {

namespace {

// No "insert a disk" box for a drive without a medium while this runs: the
// call fails at once instead.
class QuietDrives {
public:
    QuietDrives() { SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &fSaved); }
    ~QuietDrives() { SetThreadErrorMode(fSaved, nullptr); }
    QuietDrives(const QuietDrives&) = delete;
    QuietDrives& operator=(const QuietDrives&) = delete;

private:
    DWORD fSaved = 0;
};

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool hiddenOrSystem(const std::string& directory, const std::string& name)
{
    std::wstring path;
    try {
        path = SystemPath(JoinPath(directory, name));
    } catch (const IoError&) {
        return false;  // a name that is no UTF-8: the engine's listing has none
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES
           && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
}

DirectoryListing listingOf(const std::string& directory, FileSystem& fs)
{
    QuietDrives quiet;
    try {
        return ListDirectory(directory, fs);
    } catch (const IoError&) {
        return {};
    }
}

std::vector<std::string> shownOnly(const std::string& directory, std::vector<std::string> names)
{
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&](const std::string& name) { return hiddenOrSystem(directory, name); }),
                names.end());
    SortCzech(names);
    return names;
}

}  // namespace

std::vector<Drive> LogicalDrives()
{
    QuietDrives quiet;
    std::vector<Drive> drives;
    const DWORD mask = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if ((mask & (1u << i)) == 0)
            continue;
        const char letter = static_cast<char>('a' + i);
        Drive drive{letter, {}};
        const std::wstring root = WideLoosely(DriveRoot(letter));
        // A network drive is not asked: a share that went away can hold the
        // call for a long time.
        if (GetDriveTypeW(root.c_str()) != DRIVE_REMOTE) {
            wchar_t label[MAX_PATH + 1] = {};
            if (GetVolumeInformationW(root.c_str(), label, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0))
                drive.label = Utf8(label);
        }
        drives.push_back(drive);
    }
    return drives;
}

std::string DriveCaption(const Drive& drive)
{
    std::string caption{drive.letter, ':'};
    if (!drive.label.empty())
        caption += " [" + drive.label + "]";
    return caption;
}

std::string DriveRoot(char letter)
{
    const char upper = letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
    return std::string{upper, ':', kSeparator};
}

int DriveIndexOf(const std::vector<Drive>& drives, const std::string& directory)
{
    const std::string root = RootOf(directory);
    if (root.size() != 3 || root[1] != ':')
        return -1;
    for (std::size_t i = 0; i < drives.size(); ++i)
        if (drives[i].letter == lower(root[0]))
            return static_cast<int>(i);
    return -1;
}

std::string DriveCurrentDirectory(char letter)
{
    const wchar_t drive[] = {static_cast<wchar_t>(letter), L':', L'\0'};
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFullPathNameW(drive, static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0)
            return DriveRoot(letter);
        if (n < full.size()) {
            full.resize(n);
            return NormalisePath(Utf8(full));
        }
        full.resize(n);
    }
}

void SortCzech(std::vector<std::string>& names)
{
    std::vector<std::pair<std::wstring, std::string>> keyed;
    keyed.reserve(names.size());
    for (std::string& name : names)
        keyed.emplace_back(WideLoosely(name), std::move(name));
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        const int order = CompareStringEx(L"cs-CZ", NORM_IGNORECASE, a.first.c_str(), -1, b.first.c_str(),
                                          -1, nullptr, nullptr, 0);
        if (order != 0 && order != CSTR_EQUAL)
            return order == CSTR_LESS_THAN;
        return a.second < b.second;
    });
    names.clear();
    for (auto& entry : keyed)
        names.push_back(std::move(entry.second));
}

std::vector<std::string> ListDrawings(const std::string& directory, FileSystem& fs)
{
    return shownOnly(directory, listingOf(directory, fs).drawings);
}

std::vector<std::string> ListSubdirectories(const std::string& directory, FileSystem& fs)
{
    std::vector<std::string> names;
    for (const Subdirectory& sub : listingOf(directory, fs).subdirectories)
        names.push_back(sub.name);
    return shownOnly(directory, std::move(names));
}

bool CanReadDirectory(const std::string& directory, FileSystem& fs)
{
    QuietDrives quiet;
    try {
        ListDirectory(directory, fs);
        return true;
    } catch (const IoError&) {
        return false;
    }
}

std::string CurrentDirectory()
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (n == 0)
            return "C:\\";
        if (n < buffer.size()) {
            buffer.resize(n);
            return NormalisePath(Utf8(buffer));
        }
        buffer.resize(n);
    }
}

std::string FullPath(const std::wstring& path)
{
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0)
            return Utf8(path);
        if (n < full.size()) {
            full.resize(n);
            return Utf8(full);
        }
        full.resize(n);
    }
}

std::vector<std::string> CommandLinePaths(const wchar_t* commandLine)
{
    std::vector<std::string> paths;
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(commandLine, &count);
    if (!arguments)
        return paths;
    for (int i = 1; i < count; ++i) {
        const std::wstring argument = arguments[i];
        if (i == 1 && argument == L"--")
            continue;
        if (!argument.empty())
            paths.push_back(FullPath(argument));
    }
    LocalFree(arguments);
    return paths;
}

}  // namespace dxfkonv::win32
