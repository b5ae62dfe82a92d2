// Process entry: runs the tool once and returns its result as the exit code.
#include "tool/Durnavel/Main.h"

int wmain(int argc, wchar_t* argv[]) {
    int result;
    tool::BaseConfig config;
    config.allowMultipleRun = false;
    {
        tool::Main tool(config);
        result = tool.run(argc, argv);
    }
    return result;
}
