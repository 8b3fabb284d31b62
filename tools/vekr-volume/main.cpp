// vekr-volume: resize, warp, remap and filter 3-D volumes from the command
// line. Exit status 0 on success, 1 when the work fails, 2 for a mistake in
// the command line. Every failure is reported in one line on standard
// error, and a failed run leaves no output file behind.

#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "command_line.h"
#include "commands.h"
#include "output_file.h"
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
    // An OMP_NUM_THREADS above the processors is held to them, as -t is.
    if (o.threads > 0) vekSetNumThreads(o.threads);
    else if (ownGetNumThreads() > maxThreads()) vekSetNumThreads(maxThreads());

    // The outputs are created first, so that an unwritable name is reported
    // before the work; they replace their targets only once all succeeded.
    VolumeOutput output(o.output);
    std::unique_ptr<OutputFile> preview;
    if (!o.preview.empty()) preview = std::make_unique<OutputFile>(o.preview);

    const Volume input = readVolume(o.input, o.raw ? &*o.raw : nullptr);
    Result r;
    if (o.command == "resize") r = runResize(o, input);
    else if (o.command == "warp") r = runWarp(o, input);
    else if (o.command == "remap") r = runRemap(o, input);
    else r = runFilter(o, input);

    output.write(r.volume, r.gridChanged ? r.gridScale : nullptr, r.gridChanged ? r.gridShift : nullptr);
    if (preview) {
        double spacing[3];
        voxelSpacing(r.volume, spacing);
        for (int a = 0; a < 3; ++a) spacing[a] *= r.gridChanged ? r.gridScale[a] : 1.0;
        writePreview(*preview, r.volume, spacing, o.previewSize > 0 ? o.previewSize : kDefaultPreviewSize);
    }
    output.commit();
    if (preview) preview->commit();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    prepareOutputSignals();
    silenceNiftiLibrary();
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
    } catch (const std::length_error&) {
        std::fprintf(stderr, "vekr-volume: error: a size exceeds what this machine can allocate\n");
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vekr-volume: error: %s\n", e.what());
        return 1;
    } catch (...) {
        std::fprintf(stderr, "vekr-volume: error: unexpected failure\n");
        return 1;
    }
}
