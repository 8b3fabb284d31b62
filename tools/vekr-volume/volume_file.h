// Volumes in memory and on disk for vekr-volume: NIfTI-1 and NIfTI-2 files
// (headers through the NIfTI reference I/O library, voxels read and written
// here so that damaged files are refused and failed writes are noticed),
// and headerless raw files as a fallback.
#ifndef VEKR_TOOLS_VOLUME_FILE_H
#define VEKR_TOOLS_VOLUME_FILE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vekr_tool {

class OutputFile;

// The header of a NIfTI input, kept to give outputs its geometry.
struct NiftiHeader;

// Every failure the program reports to its user.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The voxel types a file may hold. The volume functions resample u8, u16
// and f32; the other types are resampled as f32 and converted back.
enum class VoxelType { U8, S8, U16, S16, U32, S32, F32, F64 };

const char* typeName(VoxelType t);
size_t voxelBytes(VoxelType t);
bool isFloatType(VoxelType t);
// "u8", "s8", "u16", "s16", "u32", "s32", "f32", "f64" (also "uint8",
// "int16", "float", "double", ...).
VoxelType parseVoxelType(const std::string& name);

// A contiguous volume, x fastest, then y, then z, no padding. A volume read
// from NIfTI keeps that file's header so that outputs carry its geometry.
struct Volume {
    int width = 0, height = 0, depth = 0;
    VoxelType type = VoxelType::U8;
    std::vector<unsigned char> bytes;
    std::shared_ptr<const NiftiHeader> header;  // null for raw inputs

    Volume() = default;
    Volume(int w, int h, int d, VoxelType t);

    size_t voxelCount() const { return static_cast<size_t>(width) * height * depth; }
    int32_t rowStep() const { return static_cast<int32_t>(width * voxelBytes(type)); }

    template <class T>
    T* data()
    {
        return reinterpret_cast<T*>(bytes.data());
    }
    template <class T>
    const T* data() const
    {
        return reinterpret_cast<const T*>(bytes.data());
    }
    // The plane-pointer array of the C1PV layout.
    template <class T>
    std::vector<T*> planes()
    {
        std::vector<T*> p(depth);
        for (int z = 0; z < depth; ++z) p[z] = data<T>() + static_cast<size_t>(z) * width * height;
        return p;
    }
    template <class T>
    std::vector<const T*> cplanes() const
    {
        std::vector<const T*> p(depth);
        for (int z = 0; z < depth; ++z) p[z] = data<T>() + static_cast<size_t>(z) * width * height;
        return p;
    }
    double valueAt(size_t i) const;
};

// Refuses, with one line that names `what`, an extent that cannot be
// allocated or handed to the volume functions: every extent from 1 to
// 2^31 - 1, rows of at most 2^31 - 1 bytes (the functions' byte steps are
// 32-bit), whole planes as well when planeStep is set (the contiguous
// layout has a 32-bit plane step), and voxels that fit in this machine's
// memory. Extents come in as doubles so that products of huge factors are
// checked before anything is converted.
void checkExtent(const std::string& what, double width, double height, double depth, VoxelType t,
                 bool planeStep = false);

// How to read a headerless file: its extent and voxel type.
struct RawLayout {
    int width = 0, height = 0, depth = 0;
    VoxelType type = VoxelType::U8;
};

// Reads a NIfTI-1 or NIfTI-2 file (.nii, .nii.gz, .hdr/.img), or a raw file
// when a layout is given. Single-volume data only. Files whose voxels end
// before the header says they do are refused.
Volume readVolume(const std::string& path, const RawLayout* raw);

bool isNiftiName(const std::string& path);

// The voxel sizes of the volume's NIfTI header (any unit), 1 for raw inputs.
void voxelSpacing(const Volume& v, double spacing[3]);

// Keeps the NIfTI library's own diagnostics off standard error: every
// failure is reported once, by the program. Call once at start-up.
void silenceNiftiLibrary();

// Where a volume goes: NIfTI when the name ends in .nii, .nii.gz, .hdr or
// .hdr.gz (a .hdr brings its .img), otherwise the raw voxels (little-endian,
// x fastest). The files are created at once and replaced only by commit().
class VolumeOutput {
public:
    explicit VolumeOutput(const std::string& path);
    ~VolumeOutput();
    VolumeOutput(const VolumeOutput&) = delete;
    VolumeOutput& operator=(const VolumeOutput&) = delete;

    // NIfTI-2 is written when an extent does not fit NIfTI-1's 16-bit
    // dimensions, or when the input was NIfTI-2. gridScale, when given, is
    // the factor per axis by which the output grid is finer than the
    // header's (resize), applied to the voxel sizes and the voxel-to-world
    // transforms; gridShift is the input index of output voxel 0.
    void write(const Volume& v, const double* gridScale = nullptr, const double* gridShift = nullptr);
    void commit();

private:
    std::string path_;
    std::unique_ptr<OutputFile> header_, image_;  // image_ only for .hdr/.img pairs
    bool nifti_ = false, compressed_ = false;
};

// Converts voxel values to another type, rounding to nearest and saturating
// to the target's range; NaN becomes 0 in integer types and stays NaN in
// float types. Returns how many voxels did not survive. With exact, that is
// every voxel whose value changed (rounding f64 to f32 excepted); without,
// rounding to whole numbers is expected (a resampled value going back to
// an integer type) and only voxels saturated or NaN count.
size_t convertVoxels(const Volume& in, Volume& out, bool exact);

}  // namespace vekr_tool

#endif
