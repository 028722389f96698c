#pragma once

#include <string>
#include <string_view>

/** Conversions between the UTF-8 of the platform interfaces and the UTF-16 of the Win32 calls. */
namespace WindowsText {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

/**
 * A UTF-8 path as Windows writes it: forward slashes (as Qt gives paths) become backslashes, so that
 * paths compare equal to what the system reports for a process image.
 */
std::wstring NativePath(std::string_view utf8Path);

/** The full path of this process's executable. */
std::wstring CurrentExePath();

} // namespace WindowsText
