// AddressSanitizer's defaults for the fuzz targets. A freed block waits in
// quarantine before it is used again, so that a use after the free is seen.
// The program allocates nothing (it works in fixed buffers); only the
// stand-in and the harness do, by the thousand in every run, and with the
// default quarantine of 256 MiB each allocation landed on memory untouched
// for many runs: the page faults and cache misses took a third of a run's
// time. 2 MiB still holds the blocks of the last few calls.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=2"; }
