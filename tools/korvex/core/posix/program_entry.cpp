// The program's entry on POSIX systems: the arguments are bytes, as the
// library takes them.
#include "core/host_os.h"

int main(int argc, char** argv) { return korvex::host::run_korvex(argc, argv); }
