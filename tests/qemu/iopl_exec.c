/* Runs a program with I/O privilege level 3, so that its in/out
 * instructions reach the (virtual) chipset; the level is inherited across
 * fork and exec, and so by every Wine process the program starts. */
#include <stdio.h>
#include <sys/io.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fputs("usage: iopl-exec PROGRAM [ARGS...]\n", stderr);
        return 2;
    }
    if (iopl(3) != 0) {
        perror("iopl");
        return 1;
    }
    execvp(argv[1], argv + 1);
    perror(argv[1]);
    return 127;
}
