// The Windows steps of a durable save on real files: flushing a file, replacing one in one step (also
// over an existing file, which a plain rename refuses on Windows), and the folder step that has
// nothing left to do.
#include "TestKit.h"

#include "platform/FileCommit.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

/** A private folder under %TEMP%, removed again with what it holds. */
class TempFolder
{
public:
    TempFolder()
    {
        wchar_t base[MAX_PATH];
        ::GetTempPathW(MAX_PATH, base);
        m_path = std::wstring(base) + L"larkbell-filecommit-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~TempFolder()
    {
        for (const wchar_t* name : {L"\\new", L"\\target", L"\\file"})
            ::DeleteFileW((m_path + name).c_str());
        ::RemoveDirectoryW(m_path.c_str());
    }
    std::string Utf8(const wchar_t* name = L"") const { return TestKit::Utf8(m_path + name); }
    std::wstring Wide(const wchar_t* name) const { return m_path + name; }

private:
    std::wstring m_path;
};

void write(const std::wstring& path, const std::string& content)
{
    std::ofstream(std::filesystem::path(path), std::ios::binary | std::ios::trunc) << content;
}

std::string read(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void flushesAnOpenFileOnly()
{
    TempFolder folder;
    const int fd = ::_wopen(folder.Wide(L"\\file").c_str(), _O_CREAT | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    CHECK(fd >= 0);
    CHECK_EQ(::_write(fd, "content", 7), 7);
    CHECK_EQ(SyncFileToDisk(fd), std::string());
    ::_close(fd);
    CHECK(!SyncFileToDisk(-1).empty());
}

void replacesAFileInOneStep()
{
    TempFolder folder;
    write(folder.Wide(L"\\new"), "new");
    write(folder.Wide(L"\\target"), "old");
    CHECK_EQ(ReplaceFileAtomically(folder.Utf8(L"\\new"), folder.Utf8(L"\\target")), std::string());
    CHECK_EQ(read(folder.Wide(L"\\target")), std::string("new"));
    CHECK(!exists(folder.Wide(L"\\new")));
    // Forward slashes, as Qt gives paths, name the same files.
    write(folder.Wide(L"\\new"), "newer");
    std::string from = folder.Utf8(L"\\new");
    std::string to = folder.Utf8(L"\\target");
    for (std::string* path : {&from, &to})
        for (char& c : *path)
            c = c == '\\' ? '/' : c;
    CHECK_EQ(ReplaceFileAtomically(from, to), std::string());
    CHECK_EQ(read(folder.Wide(L"\\target")), std::string("newer"));
}

void aRefusalNamesTheReasonAndKeepsTheTarget()
{
    TempFolder folder;
    write(folder.Wide(L"\\target"), "old");
    CHECK(!ReplaceFileAtomically(folder.Utf8(L"\\missing"), folder.Utf8(L"\\target")).empty());
    CHECK_EQ(read(folder.Wide(L"\\target")), std::string("old"));
}

void theFolderStepHasNothingToDo()
{
    TempFolder folder;
    CHECK_EQ(SyncFolderToDisk(folder.Utf8()), std::string());
}

} // namespace

int main()
{
    return TestKit::RunTests(
        "Windows file commit steps",
        {
            {"an open file is flushed, a closed one is refused", flushesAnOpenFileOnly},
            {"a file is replaced in one step", replacesAFileInOneStep},
            {"a refusal names the reason and keeps the target", aRefusalNamesTheReasonAndKeepsTheTarget},
            {"the folder step has nothing to do", theFolderStepHasNothingToDo},
        });
}
