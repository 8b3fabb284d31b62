#include "volume_file.h"

#include <nifti/nifti1_io.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sys/stat.h>

namespace vekr_tool {

struct NiftiHeader {
    explicit NiftiHeader(nifti_image* n) : nim(n) {}
    ~NiftiHeader() { nifti_image_free(nim); }
    NiftiHeader(const NiftiHeader&) = delete;
    NiftiHeader& operator=(const NiftiHeader&) = delete;
    nifti_image* nim;
};

const char* typeName(VoxelType t)
{
    switch (t) {
    case VoxelType::U8: return "u8";
    case VoxelType::U16: return "u16";
    case VoxelType::S16: return "s16";
    default: return "f32";
    }
}

size_t voxelBytes(VoxelType t)
{
    return t == VoxelType::U8 ? 1 : (t == VoxelType::F32 ? 4 : 2);
}

VoxelType parseVoxelType(const std::string& name)
{
    std::string n;
    for (char c : name) n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (n == "u8" || n == "uint8" || n == "8u") return VoxelType::U8;
    if (n == "u16" || n == "uint16" || n == "16u") return VoxelType::U16;
    if (n == "s16" || n == "int16" || n == "16s" || n == "i16") return VoxelType::S16;
    if (n == "f32" || n == "float" || n == "float32" || n == "32f") return VoxelType::F32;
    throw ToolError("unknown voxel type '" + name + "' (use u8, u16, s16 or f32)");
}

Volume::Volume(int w, int h, int d, VoxelType t)
    : width(w), height(h), depth(d), type(t), bytes(static_cast<size_t>(w) * h * d * voxelBytes(t))
{
}

double Volume::valueAt(size_t i) const
{
    switch (type) {
    case VoxelType::U8: return data<uint8_t>()[i];
    case VoxelType::U16: return data<uint16_t>()[i];
    case VoxelType::S16: return data<int16_t>()[i];
    default: return data<float>()[i];
    }
}

namespace {

bool endsWith(const std::string& s, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

struct NiftiFree {
    void operator()(nifti_image* nim) const
    {
        if (nim != nullptr) nifti_image_free(nim);
    }
};

// The header without its voxels, shared by every output of the run.
std::shared_ptr<const NiftiHeader> headerOnly(const nifti_image* nim)
{
    nifti_image* copy = nifti_copy_nim_info(nim);
    if (copy == nullptr) throw ToolError("out of memory copying a NIfTI header");
    copy->data = nullptr;
    return std::make_shared<const NiftiHeader>(copy);
}

template <class From>
void widenToFloat(const void* src, size_t n, float* dst)
{
    const From* s = static_cast<const From*>(src);
    for (size_t i = 0; i < n; ++i) dst[i] = static_cast<float>(s[i]);
}

Volume readNifti(const std::string& path)
{
    std::unique_ptr<nifti_image, NiftiFree> nim(nifti_image_read(path.c_str(), 1));
    if (!nim || nim->data == nullptr) throw ToolError("cannot read NIfTI file '" + path + "'");
    for (int d = 4; d <= nim->dim[0] && d <= 7; ++d)
        if (nim->dim[d] > 1) throw ToolError("'" + path + "' holds more than one volume; only 3-D data is supported");
    const int w = std::max(nim->nx, 1), h = std::max(nim->ny, 1), d = std::max(nim->nz, 1);
    const size_t n = static_cast<size_t>(w) * h * d;

    VoxelType type;
    switch (nim->datatype) {
    case DT_UINT8: type = VoxelType::U8; break;
    case DT_UINT16: type = VoxelType::U16; break;
    case DT_INT16: type = VoxelType::S16; break;
    case DT_FLOAT32: type = VoxelType::F32; break;
    case DT_INT8: case DT_INT32: case DT_UINT32: case DT_FLOAT64: type = VoxelType::F32; break;
    default:
        throw ToolError("'" + path + "' has voxel type " + nifti_datatype_string(nim->datatype) +
                        ", which is not supported");
    }
    Volume v(w, h, d, type);
    switch (nim->datatype) {
    case DT_INT8: widenToFloat<int8_t>(nim->data, n, v.data<float>()); break;
    case DT_INT32: widenToFloat<int32_t>(nim->data, n, v.data<float>()); break;
    case DT_UINT32: widenToFloat<uint32_t>(nim->data, n, v.data<float>()); break;
    case DT_FLOAT64: widenToFloat<double>(nim->data, n, v.data<float>()); break;
    default: std::memcpy(v.bytes.data(), nim->data, v.bytes.size());
    }
    v.header = headerOnly(nim.get());
    return v;
}

Volume readRaw(const std::string& path, const RawLayout& raw)
{
    if (raw.width < 1 || raw.height < 1 || raw.depth < 1) throw ToolError("raw size must be at least 1 on every axis");
    Volume v(raw.width, raw.height, raw.depth, raw.type);
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) throw ToolError("cannot open '" + path + "'");
    const std::streamoff size = in.tellg();
    if (size != static_cast<std::streamoff>(v.bytes.size()))
        throw ToolError("'" + path + "' has " + std::to_string(size) + " bytes; a " + std::to_string(raw.width) + "x" +
                        std::to_string(raw.height) + "x" + std::to_string(raw.depth) + " " + typeName(raw.type) +
                        " volume needs " + std::to_string(v.bytes.size()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(v.bytes.data()), static_cast<std::streamsize>(v.bytes.size()));
    if (!in) throw ToolError("cannot read '" + path + "'");
    return v;
}

int niftiType(VoxelType t)
{
    switch (t) {
    case VoxelType::U8: return DT_UINT8;
    case VoxelType::U16: return DT_UINT16;
    case VoxelType::S16: return DT_INT16;
    default: return DT_FLOAT32;
    }
}

// new ijk -> xyz = old ijk -> xyz * (diag(scale) with translation shift).
mat44 refineGrid(const mat44& m, const double* scale, const double* shift)
{
    mat44 r = m;
    for (int row = 0; row < 4; ++row) {
        double t = m.m[row][3];
        for (int c = 0; c < 3; ++c) {
            r.m[row][c] = static_cast<float>(m.m[row][c] * scale[c]);
            t += m.m[row][c] * shift[c];
        }
        r.m[row][3] = static_cast<float>(t);
    }
    return r;
}

void writeNifti(const std::string& path, const Volume& v, const double* scale, const double* shift)
{
    std::unique_ptr<nifti_image, NiftiFree> nim;
    if (v.header) {
        nim.reset(nifti_copy_nim_info(v.header->nim));
    } else {
        const int dims[8] = {3, v.width, v.height, v.depth, 1, 1, 1, 1};
        nim.reset(nifti_make_new_nim(dims, niftiType(v.type), 0));
    }
    if (!nim) throw ToolError("out of memory preparing a NIfTI header");
    nim->ndim = nim->dim[0] = 3;
    nim->nx = nim->dim[1] = v.width;
    nim->ny = nim->dim[2] = v.height;
    nim->nz = nim->dim[3] = v.depth;
    for (int d = 4; d < 8; ++d) nim->dim[d] = 1;
    nim->nt = nim->nu = nim->nv = nim->nw = 1;
    nim->nvox = v.voxelCount();
    nim->datatype = niftiType(v.type);
    nifti_datatype_sizes(nim->datatype, &nim->nbyper, &nim->swapsize);
    if (scale != nullptr && v.header) {
        float* spacing[3] = {&nim->dx, &nim->dy, &nim->dz};
        for (int a = 0; a < 3; ++a) {
            *spacing[a] = static_cast<float>(*spacing[a] * scale[a]);
            nim->pixdim[a + 1] = *spacing[a];
        }
        if (nim->qform_code > 0) {
            nim->qto_xyz = refineGrid(nim->qto_xyz, scale, shift);
            float dx, dy, dz;
            nifti_mat44_to_quatern(nim->qto_xyz, &nim->quatern_b, &nim->quatern_c, &nim->quatern_d, &nim->qoffset_x,
                                   &nim->qoffset_y, &nim->qoffset_z, &dx, &dy, &dz, &nim->qfac);
            nim->qto_ijk = nifti_mat44_inverse(nim->qto_xyz);
        }
        if (nim->sform_code > 0) {
            nim->sto_xyz = refineGrid(nim->sto_xyz, scale, shift);
            nim->sto_ijk = nifti_mat44_inverse(nim->sto_xyz);
        }
    }
    if (nifti_set_filenames(nim.get(), path.c_str(), 0, 1) != 0)
        throw ToolError("'" + path + "' is not a usable NIfTI file name");
    nim->data = const_cast<unsigned char*>(v.bytes.data());
    nifti_image_write(nim.get());
    nim->data = nullptr;  // the voxels belong to v
    struct stat st;
    if (::stat(nim->fname, &st) != 0 || st.st_size == 0) throw ToolError("cannot write '" + path + "'");
}

void writeRaw(const std::string& path, const Volume& v)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(reinterpret_cast<const char*>(v.bytes.data()), static_cast<std::streamsize>(v.bytes.size()));
    if (!out) throw ToolError("cannot write '" + path + "'");
}

template <class To>
To saturate(double v, size_t& lossy)
{
    double r = v;
    if constexpr (std::is_integral_v<To>) {
        r = std::isnan(v) ? 0.0 : std::nearbyint(v);
        r = std::min(std::max(r, static_cast<double>(std::numeric_limits<To>::lowest())),
                     static_cast<double>(std::numeric_limits<To>::max()));
    }
    const To out = static_cast<To>(r);
    lossy += static_cast<double>(out) != v;
    return out;
}

template <class To>
size_t convertInto(const Volume& in, To* out)
{
    size_t lossy = 0;
    for (size_t i = 0; i < in.voxelCount(); ++i) out[i] = saturate<To>(in.valueAt(i), lossy);
    return lossy;
}

}  // namespace

bool isNiftiName(const std::string& path)
{
    return endsWith(path, ".nii") || endsWith(path, ".nii.gz") || endsWith(path, ".hdr") || endsWith(path, ".hdr.gz");
}

Volume readVolume(const std::string& path, const RawLayout* raw)
{
    return raw != nullptr ? readRaw(path, *raw) : readNifti(path);
}

void writeVolume(const std::string& path, const Volume& v, const double* gridScale, const double* gridShift)
{
    const double noShift[3] = {0.0, 0.0, 0.0};
    if (isNiftiName(path)) writeNifti(path, v, gridScale, gridShift != nullptr ? gridShift : noShift);
    else writeRaw(path, v);
}

size_t convertVoxels(const Volume& in, Volume& out)
{
    const VoxelType target = out.type;
    out = Volume(in.width, in.height, in.depth, target);
    out.header = in.header;
    switch (target) {
    case VoxelType::U8: return convertInto(in, out.data<uint8_t>());
    case VoxelType::U16: return convertInto(in, out.data<uint16_t>());
    case VoxelType::S16: return convertInto(in, out.data<int16_t>());
    default: return convertInto(in, out.data<float>());
    }
}

}  // namespace vekr_tool
