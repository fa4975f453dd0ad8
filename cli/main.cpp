#include <string>
#include <vector>

#include "Cli.h"
#include "engine/platform/Console.h"
#include "engine/platform/FileSystem.h"

#ifdef _WIN32
// Windows hands the arguments over in UTF-16, whatever the console's code
// page; the program works in UTF-8.
int wmain(int argc, wchar_t** argv)
{
    return dxfkonv::cli::RunCli(dxfkonv::ArgumentsInUtf8(argc, argv), dxfkonv::SystemFileSystem());
}
#else
int main(int argc, char** argv)
{
    return dxfkonv::cli::RunCli(std::vector<std::string>(argv + 1, argv + argc), dxfkonv::SystemFileSystem());
}
#endif
