// Holds a serial port open, exclusively, until its standard input ends, as another program
// that uses the port would: kiv3-hold-port COM8. Prints "held" once the port is open.
#include <windows.h>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fputs("usage: kiv3-hold-port PORT\n", stderr);
        return 2;
    }
    const HANDLE port = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    CloseHandle(port);
    return 0;
}
