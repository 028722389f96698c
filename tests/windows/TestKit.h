#pragma once

// A small harness for the Windows tests, which build without Qt: CHECK and CHECK_EQ report failures with
// file and line, RunTests runs the named cases in order and ends with the line "N passed, N failed"
// (cases, not checks); the exit code is non-zero when a case failed.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>

namespace TestKit {

inline int& FailedChecks()
{
    static int failed = 0;
    return failed;
}

inline std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                          nullptr);
    return result;
}

template <typename T> std::string Show(const T& value)
{
    if constexpr (std::is_same_v<T, std::wstring>) {
        return "\"" + Utf8(value) + "\"";
    } else if constexpr (std::is_same_v<T, std::string>) {
        return "\"" + value + "\"";
    } else if constexpr (std::is_same_v<T, bool>) {
        return value ? "true" : "false";
    } else if constexpr (std::is_enum_v<T>) {
        return std::to_string(static_cast<long long>(value));
    } else if constexpr (std::is_pointer_v<T>) {
        std::ostringstream out;
        out << static_cast<const void*>(value);
        return out.str();
    } else {
        std::ostringstream out;
        out << value;
        return out.str();
    }
}

template <typename T> std::string Show(const std::optional<T>& value)
{
    return value ? Show(*value) : std::string("(none)");
}

inline bool Check(bool ok, const char* expression, const char* file, int line, const std::string& detail = {})
{
    if (!ok) {
        ++FailedChecks();
        std::printf("  FAIL %s:%d: %s%s%s\n", file, line, expression, detail.empty() ? "" : "  ", detail.c_str());
        std::fflush(stdout);
    }
    return ok;
}

template <typename A, typename B>
bool CheckEqual(const A& actual, const B& expected, const char* expression, const char* file, int line)
{
    const bool ok = actual == expected;
    return Check(ok, expression, file, line,
                 ok ? std::string() : "got " + Show(actual) + ", expected " + Show(expected));
}

/** Dispatches this thread's messages until `done` or the time-out; true when `done`. */
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (done())
            return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
    }
}

/** Dispatches this thread's messages for `ms` milliseconds. */
inline void PumpFor(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

using Case = std::pair<const char*, std::function<void()>>;

inline int RunTests(const char* suite, std::initializer_list<Case> cases)
{
    int passed = 0;
    int failed = 0;
    std::printf("%s\n", suite);
    for (const Case& test : cases) {
        const int before = FailedChecks();
        std::printf("- %s\n", test.first);
        std::fflush(stdout);
        test.second();
        if (FailedChecks() == before) {
            ++passed;
        } else {
            ++failed;
            std::printf("  FAILED: %s\n", test.first);
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

} // namespace TestKit

#define CHECK(expression) TestKit::Check(static_cast<bool>(expression), #expression, __FILE__, __LINE__)
#define CHECK_EQ(actual, expected)                                                                                     \
    TestKit::CheckEqual((actual), (expected), #actual " == " #expected, __FILE__, __LINE__)
