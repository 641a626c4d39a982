// quillmoor-sim: a simulated Quillmoor device on a pseudo-terminal.
#include "SimLog.h"
#include "SimOptions.h"
#include "SimRunner.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    SimOptions options;
    const ParseOutcome outcome =
        ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), options);
    if (outcome.kind == ParseOutcome::Help) {
        std::fputs(SimUsage().c_str(), stdout);
        return 0;
    }
    if (outcome.kind == ParseOutcome::Error) {
        std::fprintf(stderr, "quillmoor-sim: %s\n\n%s", outcome.error.c_str(), SimUsage().c_str());
        return 2;
    }
    simlog::Enable(options.verbose);
    return RunSimulator(options);
}
