// Runs a program and answers its message boxes from the command line.
// Usage: boxdriver.exe [--screenshots FOLDER] "PROGRAM [ARGS]" [ANSWER...]
// (answers: Yes, No, OK). Prints one line a box and exits with the program's exit
// code. With --screenshots, each box is saved in FOLDER as box1.bmp, box2.bmp, ...
#include "testtools/boxdriver.h"
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    TBoxScript script;
    int first = 1;
    if (argc > 2 && strcmp(argv[1], "--screenshots") == 0) {
        script.screenshots = argv[2];
        first = 3;
    }
    if (argc <= first) {
        fprintf(stderr, "usage: boxdriver [--screenshots FOLDER] \"PROGRAM [ARGS]\" [ANSWER...]\n");
        return 2;
    }
    for (int i = first + 1; i < argc; i++)
        script.answers.push_back(argv[i]);
    long code = RunWithBoxes(argv[first], script, 120000);
    fputs(DescribeBoxes(script.seen).c_str(), stdout);
    printf("exit code %ld\n", code);
    return code < 0 ? 3 : (int)code;
}
