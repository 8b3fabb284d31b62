// Volumes in memory and on disk for vekr-volume: NIfTI-1 files through the
// NIfTI reference I/O library, and headerless raw files as a fallback.
#ifndef VEKR_TOOLS_VOLUME_FILE_H
#define VEKR_TOOLS_VOLUME_FILE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vekr_tool {

// The header of a NIfTI input, kept to give outputs its geometry.
struct NiftiHeader;

// Every failure the program reports to its user.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class VoxelType { U8, U16, S16, F32 };

const char* typeName(VoxelType t);
size_t voxelBytes(VoxelType t);
// "u8", "u16", "s16", "f32" (also "uint8", "int16", "float", ...).
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

// How to read a headerless file: its extent and voxel type.
struct RawLayout {
    int width = 0, height = 0, depth = 0;
    VoxelType type = VoxelType::U8;
};

// Reads a NIfTI-1 file (.nii, .nii.gz, .hdr/.img), or a raw file when a
// layout is given. Single-volume data only.
Volume readVolume(const std::string& path, const RawLayout* raw);

// Writes NIfTI-1 when the name ends in .nii, .nii.gz or .hdr, otherwise the
// raw voxels (little-endian, x fastest). gridScale, when given, is the
// factor per axis by which the output grid is finer than the header's
// (resize), applied to the voxel sizes and the voxel-to-world transforms.
void writeVolume(const std::string& path, const Volume& v, const double* gridScale = nullptr,
                 const double* gridShift = nullptr);

bool isNiftiName(const std::string& path);

// Converts voxel values to another type, rounding to nearest and saturating
// to the target's range. Returns how many voxels did not survive exactly.
size_t convertVoxels(const Volume& in, Volume& out);

}  // namespace vekr_tool

#endif
