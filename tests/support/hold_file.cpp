// Holds a file open without sharing, the way another program can lock the
// log, until its standard input ends. Says "held" once the file is held.
//   hold_file PATH
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 2)
        return 2;
    int fd = -1;
    if (_sopen_s(&fd, argv[1], _O_RDWR | _O_BINARY, _SH_DENYRW, _S_IREAD | _S_IWRITE) != 0) {
        std::printf("cannot hold %s\n", argv[1]);
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    _close(fd);
    return 0;
}
