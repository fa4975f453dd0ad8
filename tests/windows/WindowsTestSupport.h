// What the tests of the Windows side share: names in UTF-16, this test
// program's own path, and programs started as cmd.exe starts them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace dxfkonv::test {

std::wstring wide(const std::string& utf8);

// The directory this program runs from ("...\bin"), where the build puts
// dxfkonv-cli.exe too.
std::wstring programDirectory();
std::wstring programPath();

struct Finished {
    DWORD status = 0;
    std::string out;  // what it wrote to its standard output, as bytes
    std::string err;
    bool timedOut = false;
};

// Runs `program` with `args` (each quoted as a C runtime reads them back),
// its standard output and error going to files, with the variables
// `environment` ("NAME=value") added to this process's; waits at most a
// minute.
Finished run(const std::wstring& program, const std::vector<std::wstring>& args,
             const std::vector<std::wstring>& environment = {});

// Runs one test of this program (a disabled one, that only a test runs)
// in a child process of its own, as run() does.
Finished runTestAlone(const std::wstring& test, const std::vector<std::wstring>& environment = {});

}  // namespace dxfkonv::test
