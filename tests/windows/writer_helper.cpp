// tessaro-test-writer PATH TEXT: writes TEXT into PATH and keeps the file open
// for writing (sharing reading only, as a producer does) until its standard
// input ends; says "ready" once the text is in.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    HANDLE file = ::CreateFileA(argv[1], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    if (!::WriteFile(file, argv[2], static_cast<DWORD>(std::strlen(argv[2])), &written, nullptr))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    char buffer[64];
    DWORD n = 0;
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    while (::ReadFile(in, buffer, sizeof buffer, &n, nullptr) && n > 0) {
    }
    ::CloseHandle(file);
    return 0;
}
