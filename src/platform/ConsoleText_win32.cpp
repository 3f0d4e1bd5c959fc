#include "platform/ConsoleText.h"

#include <windows.h>

#include <string>

namespace pelorix {

namespace {

std::wstring Wide(std::string_view latin1) {
    std::wstring wide;
    for (const char c : latin1) {
        if (c == '\n')
            wide += L'\r';
        wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return wide;
}

// Without a console of its own the program writes for the one that will show the file.
UINT CodePage() {
    const UINT console = ::GetConsoleOutputCP();
    return console != 0 ? console : ::GetACP();
}

} // namespace

void WriteStandardText(StandardStream stream, std::string_view latin1) {
    const HANDLE out =
        ::GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    const std::wstring wide = Wide(latin1);
    if (out == nullptr || out == INVALID_HANDLE_VALUE || wide.empty())
        return;
    DWORD written = 0;
    DWORD mode = 0;
    if (::GetConsoleMode(out, &mode)) {
        ::WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    const int size = static_cast<int>(wide.size());
    const int length = ::WideCharToMultiByte(CodePage(), 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length <= 0 || ::WideCharToMultiByte(CodePage(), 0, wide.data(), size, bytes.data(), length, nullptr,
                                             nullptr) != length)
        return;
    ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

} // namespace pelorix
