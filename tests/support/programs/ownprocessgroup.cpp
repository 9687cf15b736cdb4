// Leaves the process group it was started in for a group of its own once a
// line arrives on its standard input, then runs the given program: a child
// that empties the group it was put in, at a moment the test chooses.
//   ownprocessgroup PROGRAM [ARGUMENTS...]
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    // Byte by byte: what follows the line is left to the program.
    for (char c = 0; c != '\n';)
        if (read(STDIN_FILENO, &c, 1) != 1) return 4;
    if (setpgid(0, 0) != 0) return 3;
    execv(argv[1], argv + 1);
    return 127;
}
