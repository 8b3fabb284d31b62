// vekr-volume: resize, warp, remap and filter 3-D volumes from the command
// line. Exit status 0 on success, 1 when the work fails, 2 for a mistake in
// the command line.

#include <cstdio>
#include <exception>
#include <string>

#include "command_line.h"
#include "commands.h"
#include "preview.h"
#include "vekcore.h"
#include "vekr.h"
#include "volume_file.h"

using namespace vekr_tool;

namespace {

int run(int argc, char** argv)
{
    const Options o = parseCommandLine(argc, argv);
    if (o.help) {
        printUsage(o.command);
        return 0;
    }
    if (o.version) {
        std::printf("vekr-volume with vekr %s\n", vekrGetLibVersion()->versionText);
        return 0;
    }
    if (o.command == "filter" && o.interpolation != 2)
        std::fprintf(stderr, "vekr-volume: note: filter does not interpolate; --interpolation is ignored\n");
    if (o.threads > 0) vekSetNumThreads(o.threads);

    const Volume input = readVolume(o.input, o.raw ? &*o.raw : nullptr);
    Result r;
    if (o.command == "resize") r = runResize(o, input);
    else if (o.command == "warp") r = runWarp(o, input);
    else if (o.command == "remap") r = runRemap(o, input);
    else r = runFilter(o, input);

    writeVolume(o.output, r.volume, r.gridChanged ? r.gridScale : nullptr, r.gridChanged ? r.gridShift : nullptr);
    if (!o.preview.empty()) writePreview(o.preview, r.volume);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "vekr-volume: %s\nTry 'vekr-volume --help' for more information.\n", e.what());
        return 2;
    } catch (const ToolError& e) {
        std::fprintf(stderr, "vekr-volume: error: %s\n", e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "vekr-volume: error: out of memory\n");
        return 1;
    }
}
