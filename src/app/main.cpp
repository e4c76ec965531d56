// The process's entry, called by the C runtime's start-up.
#include "zarnouns.h"

int main(int argc, char** argv) { return AppMain(argc, argv); }
