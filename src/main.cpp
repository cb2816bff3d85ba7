// Process entry: window-less modes end here; otherwise the window starts.
#include "cli.h"

#include <cstdio>

int main(int argc, char** argv) {
    const cli::Parsed parsed = cli::parse(argc, argv);
    if (parsed.action != cli::Action::Window) {
        const int code = cli::serve(parsed, stdout, stderr);
        fflush(stdout);
        return code;
    }
    // FIXME: the window arrives with the application object.
    fputs("Velmora: the window is not built yet; try --list\n", stderr);
    return 1;
}
