#include "platform/FileCommit.h"

#include "platform/windows/WindowsText.h"

#include <io.h>
#include <windows.h>

namespace {

std::string reason(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length > 0 && text ? std::wstring(text, length) : std::wstring();
    ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.'))
        message.pop_back();
    return message.empty() ? "system error " + std::to_string(error) : WindowsText::Narrow(message);
}

} // namespace

std::string SyncFileToDisk(int fd)
{
    // The run-time's invalid-parameter handler, which can end the process, is not asked about -1.
    const auto handle = fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE)
        return reason(ERROR_INVALID_HANDLE);
    return ::FlushFileBuffers(handle) ? std::string() : reason(::GetLastError());
}

std::string ReplaceFileAtomically(const std::string& from, const std::string& to)
{
    // Write-through: the call returns once the move is on the disk, so the folder needs no flush.
    const bool moved = ::MoveFileExW(WindowsText::NativePath(from).c_str(), WindowsText::NativePath(to).c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    return moved ? std::string() : reason(::GetLastError());
}

std::string SyncFolderToDisk(const std::string&)
{
    return {};
}
