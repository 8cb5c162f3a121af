#include "cli/cli.h"
#include "cli/metafile_text.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const plumora::MetafileText text(args);
    return plumora::runCli(args);
}
