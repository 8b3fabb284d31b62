#include "command_line.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "preview.h"

namespace vekr_tool {

namespace {

const char* const kCommands[] = {"resize", "warp", "remap", "filter"};

struct NamedMode {
    const char* name;
    int mode;
};
const NamedMode kModes[] = {{"nearest", 1},     {"linear", 2},      {"lagrange", 4},    {"bspline", 5},
                            {"b-spline", 5},    {"catmull-rom", 6}, {"catmullrom", 6},  {"blend-cubic", 7},
                            {"blendcubic", 7}};

std::string lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A NaN or infinite factor, shift or matrix entry would turn every voxel
// position into NaN: only --fill may be one (a marker for "no data").
double parseNumber(const std::string& text, const std::string& option, bool finite = true)
{
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') throw UsageError("option " + option + ": '" + text + "' is not a number");
    if (errno == ERANGE && std::fabs(v) > 1.0) throw UsageError("option " + option + ": '" + text + "' is out of range");
    if (finite && !std::isfinite(v)) throw UsageError("option " + option + ": '" + text + "' is not a finite number");
    return v;
}

int parseInteger(const std::string& text, const std::string& option)
{
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || v < -2147483647L || v > 2147483647L)
        throw UsageError("option " + option + ": '" + text + "' is not an integer");
    return static_cast<int>(v);
}

// Numbers separated by commas, spaces or 'x' (for sizes).
std::vector<std::string> splitList(const std::string& text, bool allowX)
{
    std::vector<std::string> parts;
    std::string cur;
    for (char c : text) {
        if (c == ',' || std::isspace(static_cast<unsigned char>(c)) || (allowX && (c == 'x' || c == 'X'))) {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

template <size_t N>
std::array<double, N> numberList(const std::string& text, const std::string& option, bool oneForAll)
{
    const std::vector<std::string> parts = splitList(text, false);
    std::array<double, N> out{};
    if (oneForAll && parts.size() == 1) {
        out.fill(parseNumber(parts[0], option));
        return out;
    }
    if (parts.size() != N)
        throw UsageError("option " + option + " takes " + std::to_string(N) + " numbers, got '" + text + "'");
    for (size_t i = 0; i < N; ++i) out[i] = parseNumber(parts[i], option);
    return out;
}

std::array<int, 3> integerTriple(const std::string& text, const std::string& option)
{
    const std::vector<std::string> parts = splitList(text, true);
    if (parts.size() != 3) throw UsageError("option " + option + " takes three integers (as 64x64x32), got '" + text + "'");
    return {parseInteger(parts[0], option), parseInteger(parts[1], option), parseInteger(parts[2], option)};
}

std::string readTextFile(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw ToolError("cannot open '" + path + "'");
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// WxHxD:TYPE
VoxelType typeOption(const std::string& text)
{
    try {
        return parseVoxelType(text);
    } catch (const UsageError&) {
        throw;
    } catch (const ToolError& e) {
        throw UsageError(e.what());
    }
}

RawLayout parseRaw(const std::string& text, const std::string& option)
{
    const size_t colon = text.find(':');
    if (colon == std::string::npos) throw UsageError("option " + option + " takes WxHxD:TYPE, as 128x128x64:u16");
    const std::array<int, 3> s = integerTriple(text.substr(0, colon), option);
    RawLayout r;
    r.width = s[0], r.height = s[1], r.depth = s[2];
    r.type = typeOption(text.substr(colon + 1));
    return r;
}

}  // namespace

int maxThreads()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(std::min(online, 1L << 20)) : 1;
}

int parseInterpolation(const std::string& name)
{
    const std::string n = lower(name);
    for (const NamedMode& m : kModes)
        if (n == m.name) return m.mode;
    if (n.size() == 1 && n[0] >= '1' && n[0] <= '7' && n[0] != '3') return n[0] - '0';
    throw UsageError("unknown interpolation '" + name +
                     "' (use nearest, linear, lagrange, bspline, catmull-rom or blend-cubic)");
}

const char* interpolationName(int mode)
{
    for (const NamedMode& m : kModes)
        if (m.mode == mode) return m.name;
    return "?";
}

Options parseCommandLine(int argc, char** argv)
{
    Options o;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasInlineValue = false;
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            const size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                hasInlineValue = true;
            }
        }
        auto takeValue = [&]() -> std::string {
            if (hasInlineValue) return value;
            if (i + 1 >= argc) throw UsageError("option " + arg + " needs a value");
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") o.help = true;
        else if (arg == "--version") o.version = true;
        else if (arg == "-q" || arg == "--quiet") o.quiet = true;
        else if (arg == "-i" || arg == "--interpolation") o.interpolation = parseInterpolation(takeValue());
        else if (arg == "-t" || arg == "--threads") {
            o.threads = parseInteger(takeValue(), arg);
            if (o.threads < 1 || o.threads > maxThreads())
                throw UsageError("option --threads takes 1 to " + std::to_string(maxThreads()) +
                                 " (the processors available), got " + std::to_string(o.threads));
        } else if (arg == "--raw") o.raw = parseRaw(takeValue(), arg);
        else if (arg == "--type") o.outputType = typeOption(takeValue());
        else if (arg == "--fill") o.fill = parseNumber(takeValue(), arg, false);
        else if (arg == "--preview") o.preview = takeValue();
        else if (arg == "--preview-size") {
            o.previewSize = parseInteger(takeValue(), arg);
            if (o.previewSize < 16 || o.previewSize > 16384)
                throw UsageError("option --preview-size takes 16 to 16384 pixels, got " + std::to_string(o.previewSize));
        }
        else if (arg == "--factor") o.factors = numberList<3>(takeValue(), arg, true);
        else if (arg == "--shift") o.shift = numberList<3>(takeValue(), arg, false);
        else if (arg == "--size") o.size = integerTriple(takeValue(), arg);
        else if (arg == "--matrix") {
            std::string text = takeValue();
            if (!text.empty() && text[0] == '@') text = readTextFile(text.substr(1));
            o.matrix = numberList<12>(text, arg, false);
        } else if (arg == "--rotate") o.rotate = numberList<3>(takeValue(), arg, false), o.similarity = true;
        else if (arg == "--scale") o.scale = numberList<3>(takeValue(), arg, true), o.similarity = true;
        else if (arg == "--translate") o.translate = numberList<3>(takeValue(), arg, false), o.similarity = true;
        else if (arg == "--maps") {
            const std::string text = takeValue();
            o.maps.clear();
            std::string cur;
            for (char c : text + ",") {
                if (c == ',') {
                    if (!cur.empty()) o.maps.push_back(cur);
                    cur.clear();
                } else {
                    cur += c;
                }
            }
            if (o.maps.size() != 3) throw UsageError("option --maps takes three files, as x.nii,y.nii,z.nii");
        } else if (arg == "--map-raw") o.mapRaw = parseRaw(takeValue(), arg);
        else if (arg == "--kernel") o.kernelName = lower(takeValue());
        else if (arg == "--kernel-file") o.kernelFile = takeValue();
        else if (arg == "--divisor") o.divisor = parseInteger(takeValue(), arg);
        else if (arg == "--anchor") o.anchor = integerTriple(takeValue(), arg);
        else if (arg.size() > 1 && arg[0] == '-') throw UsageError("unknown option '" + arg + "'");
        else positional.push_back(arg);
    }
    if (!positional.empty()) {
        o.command = positional[0];
        bool known = false;
        for (const char* c : kCommands) known |= o.command == c;
        if (!known) throw UsageError("unknown command '" + o.command + "' (use resize, warp, remap or filter)");
    }
    if (o.help || o.version) return o;
    if (o.command.empty()) throw UsageError("no command given");
    if (positional.size() != 3)
        throw UsageError(o.command + " takes an INPUT and an OUTPUT file, got " + std::to_string(positional.size() - 1) +
                         " file names");
    o.input = positional[1];
    o.output = positional[2];
    if (!o.preview.empty() && o.preview == o.output) throw UsageError("--preview names the output file");
    if (o.previewSize > 0 && o.preview.empty()) throw UsageError("--preview-size needs --preview");
    return o;
}

void printUsage(const std::string& command)
{
    if (command == "resize") {
        std::puts(
            "Usage: vekr-volume resize [OPTIONS] INPUT OUTPUT\n"
            "\n"
            "Scale the volume by a factor per axis. Output voxel d on an axis samples the\n"
            "input at voxel position (d + 0.5) / F - 0.5 - SHIFT / F, where input voxel k\n"
            "is the point k: with no shift the outer faces of both volumes line up.\n"
            "\n"
            "      --factor F | FX,FY,FZ   scale factors (above 1 enlarges)\n"
            "      --size WxHxD            output extent; factors follow from it\n"
            "      --shift SX,SY,SZ        shift in output voxels (default 0,0,0)\n"
            "  -i, --interpolation MODE    as for every command (default linear)");
    } else if (command == "warp") {
        std::puts(
            "Usage: vekr-volume warp [OPTIONS] INPUT OUTPUT\n"
            "\n"
            "Map the volume through an affine transform from source to output voxel\n"
            "coordinates (voxel k is the point k). Output voxels whose source position\n"
            "falls outside the input get the --fill value.\n"
            "\n"
            "      --matrix A00,...,B2     the 3 x 4 forward matrix, row by row, or @FILE\n"
            "      --rotate RX,RY,RZ       degrees about the x, then y, then z axis through\n"
            "                              the volume's centre\n"
            "      --scale S | SX,SY,SZ    scale about the centre (default 1)\n"
            "      --translate TX,TY,TZ    shift in voxels (default 0,0,0)\n"
            "      --size WxHxD            output extent (default: the input's)\n"
            "  -i, --interpolation MODE    as for every command (default linear)");
    } else if (command == "remap") {
        std::puts(
            "Usage: vekr-volume remap --maps X,Y,Z [OPTIONS] INPUT OUTPUT\n"
            "\n"
            "Sample the volume at the positions held by three coordinate maps: output\n"
            "voxel (i, j, k) takes the input at (X(i,j,k), Y(i,j,k), Z(i,j,k)) in input\n"
            "voxel indices. The output has the maps' extent; positions outside the input\n"
            "get the --fill value.\n"
            "\n"
            "      --maps X,Y,Z            the three map files (converted to float)\n"
            "      --map-raw WxHxD:TYPE    the maps are raw files of that extent and type\n"
            "  -i, --interpolation MODE    as for every command (default linear)");
    } else if (command == "filter") {
        std::puts(
            "Usage: vekr-volume filter (--kernel NAME | --kernel-file FILE) [OPTIONS] INPUT OUTPUT\n"
            "\n"
            "Convolve the volume, as signed 16-bit voxels, with an integer kernel and\n"
            "divide by the divisor, rounding to nearest. Voxels past the faces repeat\n"
            "the face voxels.\n"
            "\n"
            "      --kernel NAME           box3, box5, binomial3, binomial5, laplacian or\n"
            "                              sharpen\n"
            "      --kernel-file FILE      text: W H D, then W*H*D integers, x fastest\n"
            "                              ('#' starts a comment)\n"
            "      --divisor N             (default: the sum of the kernel, or 1 if it is 0)\n"
            "      --anchor X,Y,Z          kernel voxel over the output voxel (default centre)");
    } else {
        std::puts(
            "Usage: vekr-volume COMMAND [OPTIONS] INPUT OUTPUT\n"
            "\n"
            "Resample and filter 3-D volumes.\n"
            "\n"
            "Commands:\n"
            "  resize   scale the volume by a factor per axis\n"
            "  warp     map the volume through an affine transform\n"
            "  remap    sample the volume at positions read from three coordinate maps\n"
            "  filter   convolve the volume with an integer kernel\n"
            "\n"
            "INPUT and OUTPUT are NIfTI-1 or NIfTI-2 files (.nii, .nii.gz, .hdr/.img). An\n"
            "output is NIfTI-2 when an extent exceeds NIfTI-1's 32767 or the input was\n"
            "NIfTI-2. An OUTPUT with any other name gets the raw voxels (little-endian);\n"
            "a raw INPUT needs --raw. Outputs appear only once the whole run succeeded.\n"
            "Exit status: 0 done, 1 failed, 2 mistake in the command line.\n"
            "Run 'vekr-volume COMMAND --help' for the options of one command.");
    }
    std::printf(
        "\n"
        "Options of every command:\n"
        "  -i, --interpolation MODE    nearest, linear, lagrange, bspline, catmull-rom\n"
        "                              or blend-cubic (resize, warp, remap)\n"
        "  -t, --threads N             threads to use, 1 to the processors available\n"
        "                              (here %d; default: all of them, or fewer if\n"
        "                              OMP_NUM_THREADS says so)\n"
        "      --raw WxHxD:TYPE        read INPUT as raw voxels of TYPE: u8, s8, u16, s16,\n"
        "                              u32, s32, f32 or f64\n"
        "      --type TYPE             write the result as TYPE (default: the input's\n"
        "                              type), rounded and saturated. Resampling works on\n"
        "                              u8, u16 or f32 voxels (other types go through\n"
        "                              f32), the filter on s16 voxels\n"
        "      --fill VALUE            value of output voxels no input voxel maps to\n"
        "                              (warp, remap; default 0; nan or inf only for\n"
        "                              volumes resampled and written as floats)\n"
        "      --preview FILE.png      also write the result's middle slices as a PNG\n"
        "      --preview-size N        the preview's longer side in pixels (default %d)\n"
        "  -q, --quiet                 no progress bar\n"
        "  -h, --help                  show this help and exit\n"
        "      --version               show the library version and exit\n",
        maxThreads(), kDefaultPreviewSize);
}

}  // namespace vekr_tool
