#include "WindowsTestSupport.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "TestFiles.h"

namespace dxfkonv::test {

namespace {

// `arg` quoted so that the C runtime's parser gives it back as it is.
std::wstring quoted(const std::wstring& arg)
{
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

std::string narrow(const std::wstring& text)
{
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// A file a child writes its output to, read once it has ended.
class OutputFile {
public:
    explicit OutputFile(const std::wstring& path) : path_(path)
    {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        handle_ = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE)
            throw std::runtime_error("cannot make an output file");
    }
    ~OutputFile()
    {
        close();
        ::DeleteFileW(path_.c_str());
    }
    HANDLE get() const { return handle_; }
    void close()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
    std::string content() { return readFile(narrow(path_)); }

private:
    std::wstring path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::wstring wide(const std::string& utf8)
{
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::wstring programPath()
{
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

std::wstring programDirectory()
{
    const std::wstring path = programPath();
    return path.substr(0, path.find_last_of(L"\\/"));
}

Finished run(const std::wstring& program, const std::vector<std::wstring>& args,
             const std::vector<std::wstring>& environment)
{
    std::wstring line = quoted(program);
    for (const auto& arg : args)
        line += L" " + quoted(arg);
    std::wstring block;
    for (const auto& variable : environment)
        block += variable + L'\0';
    if (wchar_t* own = ::GetEnvironmentStringsW()) {
        for (const wchar_t* v = own; *v; v += wcslen(v) + 1)
            block += std::wstring(v) + L'\0';
        ::FreeEnvironmentStringsW(own);
    }
    block += L'\0';

    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring stem = std::wstring(temp) + L"dxfkonv-run-" + std::to_wstring(::GetCurrentProcessId()) + L"-"
                              + std::to_wstring(::GetTickCount64());
    OutputFile out(stem + L".out");
    OutputFile err(stem + L".err");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    PROCESS_INFORMATION child{};
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                          CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, block.data(), nullptr, &startup, &child))
        throw std::runtime_error("cannot start the program");
    Finished finished;
    if (::WaitForSingleObject(child.hProcess, 60000) != WAIT_OBJECT_0) {
        finished.timedOut = true;
        ::TerminateProcess(child.hProcess, 1);
        ::WaitForSingleObject(child.hProcess, INFINITE);
    }
    ::GetExitCodeProcess(child.hProcess, &finished.status);
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
    out.close();
    err.close();
    finished.out = out.content();
    finished.err = err.content();
    return finished;
}

Finished runTestAlone(const std::wstring& test, const std::vector<std::wstring>& environment)
{
    return run(programPath(), {L"--gtest_also_run_disabled_tests", L"--gtest_filter=" + test}, environment);
}

}  // namespace dxfkonv::test
