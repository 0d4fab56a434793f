// Runs a program and answers its message boxes from the command line.
// Usage: boxdriver.exe "PROGRAM [ARGS]" [ANSWER...]   (answers: Yes, No, OK)
// Prints one line a box and exits with the program's exit code.
#include "testtools/boxdriver.h"
#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: boxdriver \"PROGRAM [ARGS]\" [ANSWER...]\n");
        return 2;
    }
    TBoxScript script;
    for (int i = 2; i < argc; i++)
        script.answers.push_back(argv[i]);
    long code = RunWithBoxes(argv[1], script, 120000);
    fputs(DescribeBoxes(script.seen).c_str(), stdout);
    printf("exit code %ld\n", code);
    return code < 0 ? 3 : (int)code;
}
