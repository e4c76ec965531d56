// Asks the MinGW runtime start-up to expand wildcards in the arguments
// before main() sees them, as the program has always been started.
extern "C" {
int _dowildcard = -1;
}
