#include "volume_file.h"

#include <nifti2_io.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <type_traits>

#include "output_file.h"

namespace vekr_tool {

struct NiftiHeader {
    NiftiHeader(nifti_image* n, bool two) : nim(n), nifti2(two) {}
    ~NiftiHeader() { nifti_image_free(nim); }
    NiftiHeader(const NiftiHeader&) = delete;
    NiftiHeader& operator=(const NiftiHeader&) = delete;
    nifti_image* nim;
    bool nifti2;  // the input was NIfTI-2: its outputs stay NIfTI-2
};

const char* typeName(VoxelType t)
{
    switch (t) {
    case VoxelType::U8: return "u8";
    case VoxelType::S8: return "s8";
    case VoxelType::U16: return "u16";
    case VoxelType::S16: return "s16";
    case VoxelType::U32: return "u32";
    case VoxelType::S32: return "s32";
    case VoxelType::F32: return "f32";
    default: return "f64";
    }
}

size_t voxelBytes(VoxelType t)
{
    switch (t) {
    case VoxelType::U8: case VoxelType::S8: return 1;
    case VoxelType::U16: case VoxelType::S16: return 2;
    case VoxelType::F64: return 8;
    default: return 4;
    }
}

bool isFloatType(VoxelType t)
{
    return t == VoxelType::F32 || t == VoxelType::F64;
}

VoxelType parseVoxelType(const std::string& name)
{
    std::string n;
    for (char c : name) n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (n == "u8" || n == "uint8" || n == "8u") return VoxelType::U8;
    if (n == "s8" || n == "int8" || n == "8s" || n == "i8") return VoxelType::S8;
    if (n == "u16" || n == "uint16" || n == "16u") return VoxelType::U16;
    if (n == "s16" || n == "int16" || n == "16s" || n == "i16") return VoxelType::S16;
    if (n == "u32" || n == "uint32" || n == "32u") return VoxelType::U32;
    if (n == "s32" || n == "int32" || n == "32s" || n == "i32") return VoxelType::S32;
    if (n == "f32" || n == "float" || n == "float32" || n == "32f") return VoxelType::F32;
    if (n == "f64" || n == "double" || n == "float64" || n == "64f") return VoxelType::F64;
    throw ToolError("unknown voxel type '" + name + "' (use u8, s8, u16, s16, u32, s32, f32 or f64)");
}

Volume::Volume(int w, int h, int d, VoxelType t)
    : width(w), height(h), depth(d), type(t), bytes(static_cast<size_t>(w) * h * d * voxelBytes(t))
{
}

double Volume::valueAt(size_t i) const
{
    switch (type) {
    case VoxelType::U8: return data<uint8_t>()[i];
    case VoxelType::S8: return data<int8_t>()[i];
    case VoxelType::U16: return data<uint16_t>()[i];
    case VoxelType::S16: return data<int16_t>()[i];
    case VoxelType::U32: return data<uint32_t>()[i];
    case VoxelType::S32: return data<int32_t>()[i];
    case VoxelType::F32: return data<float>()[i];
    default: return data<double>()[i];
    }
}

namespace {

std::string countText(double n)
{
    char s[64];
    std::snprintf(s, sizeof s, n < 1e15 ? "%.0f" : "%.3g", n);
    return s;
}

std::string bytesText(double n)
{
    char s[64];
    if (n >= 1024.0 * 1024 * 1024 * 1024 * 1024) std::snprintf(s, sizeof s, "%.3g bytes", n);
    else if (n >= 1024.0 * 1024 * 1024) std::snprintf(s, sizeof s, "%.1f GiB", n / (1024.0 * 1024 * 1024));
    else std::snprintf(s, sizeof s, "%.1f MiB", n / (1024.0 * 1024));
    return s;
}

double physicalMemory()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGE_SIZE);
    return pages > 0 && pageSize > 0 ? static_cast<double>(pages) * pageSize : 1e300;
}

}  // namespace

void checkExtent(const std::string& what, double w, double h, double d, VoxelType t, bool planeStep)
{
    const double limit = 2147483647.0, b = static_cast<double>(voxelBytes(t));
    const std::string voxels =
        what + " (" + countText(w) + "x" + countText(h) + "x" + countText(d) + " " + typeName(t) + " voxels)";
    if (!(w >= 1 && h >= 1 && d >= 1)) throw ToolError(what + " would have no voxels: every extent must be at least 1");
    if (w > limit || h > limit || d > limit)
        throw ToolError(voxels + " is too large: extents above 2147483647 are not supported");
    if (w * b > limit)
        throw ToolError(voxels + " is too large: its rows of " + bytesText(w * b) +
                        " exceed the 2 GiB the volume functions address");
    if (planeStep && w * h * b > limit)
        throw ToolError(voxels + " is too large: its planes of " + bytesText(w * h * b) +
                        " exceed the 2 GiB the volume functions address");
    const double bytes = w * h * d * b, memory = physicalMemory();
    if (bytes > memory)
        throw ToolError(voxels + " needs " + bytesText(bytes) + " of memory; this machine has " + bytesText(memory));
}

namespace {

bool endsWith(const std::string& s, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

std::string systemReason()
{
    return std::strerror(errno);
}

struct NiftiFree {
    void operator()(nifti_image* nim) const
    {
        if (nim != nullptr) nifti_image_free(nim);
    }
};

struct GzClose {
    void operator()(gzFile_s* f) const { gzclose_r(f); }
};
using GzReader = std::unique_ptr<gzFile_s, GzClose>;

GzReader openForReading(const std::string& path)
{
    GzReader f(gzopen(path.c_str(), "rb"));
    if (!f) throw ToolError("cannot open '" + path + "': " + (errno != 0 ? systemReason() : "out of memory"));
    return f;
}

// The size of the header that opens the file: 348 for NIfTI-1 and
// ANALYZE 7.5, 540 for NIfTI-2, in either byte order.
bool isNifti2File(const std::string& headerPath)
{
    GzReader f = openForReading(headerPath);
    unsigned char b[4];
    if (gzread(f.get(), b, 4) != 4) return false;
    return (b[0] == 0x1c && b[1] == 0x02 && b[2] == 0 && b[3] == 0) ||
           (b[0] == 0 && b[1] == 0 && b[2] == 0x02 && b[3] == 0x1c);
}

VoxelType voxelTypeOf(int datatype, const std::string& path)
{
    switch (datatype) {
    case DT_UINT8: return VoxelType::U8;
    case DT_INT8: return VoxelType::S8;
    case DT_UINT16: return VoxelType::U16;
    case DT_INT16: return VoxelType::S16;
    case DT_UINT32: return VoxelType::U32;
    case DT_INT32: return VoxelType::S32;
    case DT_FLOAT32: return VoxelType::F32;
    case DT_FLOAT64: return VoxelType::F64;
    default:
        throw ToolError("'" + path + "' has voxel type " + nifti_datatype_string(datatype) +
                        ", which is not supported (u8, s8, u16, s16, u32, s32, f32 and f64 are)");
    }
}

// Reads `bytes` voxel bytes that start `offset` bytes into the file, growing
// the buffer only as data arrives: a damaged header that claims a huge
// extent costs no more memory than the file really holds.
std::vector<unsigned char> readVoxelBytes(const std::string& path, const std::string& described, int64_t offset,
                                          size_t bytes)
{
    GzReader f = openForReading(path);
    const bool compressed = gzdirect(f.get()) == 0;
    auto truncated = [&](size_t got) {
        return ToolError("'" + path + "' is truncated: " + described + " (" + std::to_string(bytes) + " bytes" +
                         (offset > 0 ? " after byte " + std::to_string(offset) : "") + "), the file holds only " +
                         std::to_string(got) + " of those bytes");
    };
    auto damaged = [&]() {
        int code = Z_OK;
        const char* message = gzerror(f.get(), &code);
        return ToolError("'" + path + "' is damaged: " +
                         (code == Z_ERRNO ? systemReason() : std::string(message != nullptr ? message : "read error")));
    };
    if (!compressed) {
        // A plain file says at once whether it holds what the header needs.
        struct stat st;
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<uint64_t>(st.st_size) < static_cast<uint64_t>(offset) + bytes)
            throw truncated(st.st_size > offset ? static_cast<size_t>(st.st_size - offset) : 0);
    }
    if (offset > 0 && gzseek(f.get(), static_cast<z_off_t>(offset), SEEK_SET) != offset) {
        int code = Z_OK;
        gzerror(f.get(), &code);
        if (code != Z_OK && code != Z_BUF_ERROR) throw damaged();
        throw truncated(0);
    }
    constexpr size_t kChunk = size_t{16} << 20;
    std::vector<unsigned char> data;
    size_t got = 0;
    while (got < bytes) {
        const size_t want = std::min(kChunk, bytes - got);
        data.resize(got + want);
        const int n = gzread(f.get(), data.data() + got, static_cast<unsigned>(want));
        if (n < 0) throw damaged();
        got += static_cast<size_t>(n);
        if (static_cast<size_t>(n) < want) {
            int code = Z_OK;
            gzerror(f.get(), &code);
            // A gzip stream cut short reports Z_BUF_ERROR: that is truncation.
            if (code != Z_OK && code != Z_BUF_ERROR) throw damaged();
            throw truncated(got);
        }
    }
    // Reading on to the end of a gzip stream checks its length and CRC.
    if (compressed) {
        unsigned char extra;
        if (gzread(f.get(), &extra, 1) < 0) throw damaged();
    }
    return data;
}

Volume readNifti(const std::string& path)
{
    if (::access(path.c_str(), R_OK) != 0) throw ToolError("cannot open '" + path + "': " + systemReason());
    std::unique_ptr<nifti_image, NiftiFree> nim(nifti_image_read(path.c_str(), 0));
    if (!nim) throw ToolError("'" + path + "' is not a NIfTI-1 or NIfTI-2 file, or its header is damaged");
    for (int d = 4; d <= nim->dim[0] && d <= 7; ++d)
        if (nim->dim[d] > 1) throw ToolError("'" + path + "' holds more than one volume; only 3-D data is supported");
    const int64_t w = std::max<int64_t>(nim->nx, 1), h = std::max<int64_t>(nim->ny, 1),
                  d = std::max<int64_t>(nim->nz, 1);
    const VoxelType type = voxelTypeOf(nim->datatype, path);
    checkExtent("'" + path + "'", static_cast<double>(w), static_cast<double>(h), static_cast<double>(d), type);

    Volume v;
    v.width = static_cast<int>(w), v.height = static_cast<int>(h), v.depth = static_cast<int>(d);
    v.type = type;
    const size_t bytes = v.voxelCount() * voxelBytes(type);
    const std::string described = "its header describes " + std::to_string(w) + "x" + std::to_string(h) + "x" +
                                  std::to_string(d) + " " + typeName(type) + " voxels";
    // The voxels are read here rather than by the NIfTI library, which fills
    // missing voxels with 0 and turns NaN and infinite floats into 0.
    v.bytes = readVoxelBytes(nim->iname, described, nim->iname_offset, bytes);
    if (nim->byteorder != nifti_short_order() && voxelBytes(type) > 1)
        nifti_swap_Nbytes(static_cast<int64_t>(v.voxelCount()), static_cast<int>(voxelBytes(type)), v.bytes.data());

    nifti_image* copy = nifti_copy_nim_info(nim.get());
    if (copy == nullptr) throw std::bad_alloc();
    copy->data = nullptr;
    v.header = std::make_shared<const NiftiHeader>(copy, isNifti2File(nim->fname));
    return v;
}

Volume readRaw(const std::string& path, const RawLayout& raw)
{
    checkExtent("--raw", raw.width, raw.height, raw.depth, raw.type);
    Volume v;
    v.width = raw.width, v.height = raw.height, v.depth = raw.depth;
    v.type = raw.type;
    const size_t bytes = v.voxelCount() * voxelBytes(raw.type);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) throw ToolError("cannot open '" + path + "': " + systemReason());
    if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) != bytes)
        throw ToolError("'" + path + "' has " + std::to_string(st.st_size) + " bytes; a " + std::to_string(raw.width) +
                        "x" + std::to_string(raw.height) + "x" + std::to_string(raw.depth) + " " +
                        typeName(raw.type) + " volume needs " + std::to_string(bytes));
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw ToolError("cannot open '" + path + "': " + systemReason());
    v.bytes.resize(bytes);
    const size_t got = std::fread(v.bytes.data(), 1, bytes, f);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) throw ToolError("cannot read '" + path + "': " + systemReason());
    if (got != bytes)
        throw ToolError("'" + path + "' is truncated: a " + std::to_string(raw.width) + "x" +
                        std::to_string(raw.height) + "x" + std::to_string(raw.depth) + " " + typeName(raw.type) +
                        " volume needs " + std::to_string(bytes) + " bytes, the file holds " + std::to_string(got));
    return v;
}

int niftiType(VoxelType t)
{
    switch (t) {
    case VoxelType::U8: return DT_UINT8;
    case VoxelType::S8: return DT_INT8;
    case VoxelType::U16: return DT_UINT16;
    case VoxelType::S16: return DT_INT16;
    case VoxelType::U32: return DT_UINT32;
    case VoxelType::S32: return DT_INT32;
    case VoxelType::F32: return DT_FLOAT32;
    default: return DT_FLOAT64;
    }
}

// new ijk -> xyz = old ijk -> xyz * (diag(scale) with translation shift).
nifti_dmat44 refineGrid(const nifti_dmat44& m, const double* scale, const double* shift)
{
    nifti_dmat44 r = m;
    for (int row = 0; row < 4; ++row) {
        double t = m.m[row][3];
        for (int c = 0; c < 3; ++c) {
            r.m[row][c] = m.m[row][c] * scale[c];
            t += m.m[row][c] * shift[c];
        }
        r.m[row][3] = t;
    }
    return r;
}

// The header of an output: the input's, or a fresh one for raw inputs, with
// the output's extent, type and grid.
std::unique_ptr<nifti_image, NiftiFree> outputHeader(const Volume& v, const double* scale, const double* shift)
{
    std::unique_ptr<nifti_image, NiftiFree> nim;
    if (v.header) {
        nim.reset(nifti_copy_nim_info(v.header->nim));
    } else {
        const int64_t dims[8] = {3, v.width, v.height, v.depth, 1, 1, 1, 1};
        nim.reset(nifti_make_new_nim(dims, niftiType(v.type), 0));
    }
    if (!nim) throw std::bad_alloc();
    nim->ndim = nim->dim[0] = 3;
    nim->nx = nim->dim[1] = v.width;
    nim->ny = nim->dim[2] = v.height;
    nim->nz = nim->dim[3] = v.depth;
    for (int d = 4; d < 8; ++d) nim->dim[d] = 1;
    nim->nt = nim->nu = nim->nv = nim->nw = 1;
    nim->nvox = static_cast<int64_t>(v.voxelCount());
    nim->datatype = niftiType(v.type);
    nifti_datatype_sizes(nim->datatype, &nim->nbyper, &nim->swapsize);
    nim->byteorder = nifti_short_order();
    if (scale != nullptr && v.header) {
        double* spacing[3] = {&nim->dx, &nim->dy, &nim->dz};
        for (int a = 0; a < 3; ++a) {
            *spacing[a] *= scale[a];
            nim->pixdim[a + 1] = *spacing[a];
        }
        if (nim->qform_code > 0) {
            nim->qto_xyz = refineGrid(nim->qto_xyz, scale, shift);
            double dx, dy, dz;
            nifti_dmat44_to_quatern(nim->qto_xyz, &nim->quatern_b, &nim->quatern_c, &nim->quatern_d, &nim->qoffset_x,
                                    &nim->qoffset_y, &nim->qoffset_z, &dx, &dy, &dz, &nim->qfac);
            nim->qto_ijk = nifti_dmat44_inverse(nim->qto_xyz);
        }
        if (nim->sform_code > 0) {
            nim->sto_xyz = refineGrid(nim->sto_xyz, scale, shift);
            nim->sto_ijk = nifti_dmat44_inverse(nim->sto_xyz);
        }
    }
    return nim;
}

void appendBytes(std::vector<char>& out, const void* p, size_t n)
{
    out.insert(out.end(), static_cast<const char*>(p), static_cast<const char*>(p) + n);
}

static_assert(sizeof(nifti_1_header) == 348 && sizeof(nifti_2_header) == 540, "NIfTI header layouts");

// The header file's bytes: header, extension flag and the input's
// extensions. For a single file, the voxels follow at the returned size.
std::vector<char> niftiHeaderBytes(nifti_image* nim, bool nifti2, bool pair)
{
    int64_t extensionBytes = 0;
    for (int i = 0; i < nim->num_ext; ++i) extensionBytes += nim->ext_list[i].esize;
    const int64_t headerBytes = nifti2 ? 540 : 348;
    const bool extender = !pair || nim->num_ext > 0;
    nim->iname_offset = pair ? 0 : headerBytes + 4 + extensionBytes;
    nim->nifti_type = nifti2 ? (pair ? NIFTI_FTYPE_NIFTI2_2 : NIFTI_FTYPE_NIFTI2_1)
                             : (pair ? NIFTI_FTYPE_NIFTI1_2 : NIFTI_FTYPE_NIFTI1_1);
    std::vector<char> out;
    if (nifti2) {
        nifti_2_header h;
        if (nifti_convert_nim2n2hdr(nim, &h) != 0) throw ToolError("cannot form a NIfTI-2 header");
        h.vox_offset = nim->iname_offset;
        // The line-ending check bytes that detect a file mangled in transfer.
        h.magic[4] = '\r', h.magic[5] = '\n', h.magic[6] = '\032', h.magic[7] = '\n';
        appendBytes(out, &h, sizeof h);
    } else {
        nifti_1_header h;
        if (nifti_convert_nim2n1hdr(nim, &h) != 0) throw ToolError("cannot form a NIfTI-1 header");
        h.vox_offset = static_cast<float>(nim->iname_offset);
        appendBytes(out, &h, sizeof h);
    }
    if (extender) {
        const char flag[4] = {static_cast<char>(nim->num_ext > 0 ? 1 : 0), 0, 0, 0};
        appendBytes(out, flag, 4);
    }
    for (int i = 0; i < nim->num_ext; ++i) {
        const nifti1_extension& e = nim->ext_list[i];
        const int32_t sizeAndCode[2] = {e.esize, e.ecode};
        appendBytes(out, sizeAndCode, 8);
        appendBytes(out, e.edata, static_cast<size_t>(e.esize) - 8);
    }
    return out;
}

// Writes to an output file, through gzip compression when asked.
class FileWriter {
public:
    FileWriter(OutputFile& file, bool compress) : file_(file), compress_(compress)
    {
        // 15 + 16: a gzip wrapper, as .gz readers expect.
        if (compress_ && deflateInit2(&z_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::bad_alloc();
    }
    ~FileWriter()
    {
        if (compress_) deflateEnd(&z_);
    }
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    void write(const void* data, size_t bytes)
    {
        if (!compress_) return file_.write(data, bytes);
        const unsigned char* p = static_cast<const unsigned char*>(data);
        while (bytes > 0) {
            const size_t n = std::min<size_t>(bytes, 1u << 30);
            deflateChunk(p, n, Z_NO_FLUSH);
            p += n;
            bytes -= n;
        }
    }
    void finish()
    {
        if (compress_) deflateChunk(nullptr, 0, Z_FINISH);
        file_.finish();
    }

private:
    void deflateChunk(const unsigned char* p, size_t n, int flush)
    {
        z_.next_in = const_cast<unsigned char*>(p);
        z_.avail_in = static_cast<uInt>(n);
        do {
            z_.next_out = out_;
            z_.avail_out = sizeof out_;
            if (deflate(&z_, flush) == Z_STREAM_ERROR) throw ToolError("cannot compress '" + file_.path() + "'");
            file_.write(out_, sizeof out_ - z_.avail_out);
        } while (z_.avail_out == 0);
    }

    OutputFile& file_;
    bool compress_;
    z_stream z_{};
    unsigned char out_[1 << 16];
};

}  // namespace

bool isNiftiName(const std::string& path)
{
    return endsWith(path, ".nii") || endsWith(path, ".nii.gz") || endsWith(path, ".hdr") || endsWith(path, ".hdr.gz");
}

void voxelSpacing(const Volume& v, double spacing[3])
{
    for (int a = 0; a < 3; ++a) spacing[a] = v.header ? v.header->nim->pixdim[a + 1] : 1.0;
}

void silenceNiftiLibrary()
{
    nifti_set_debug_level(0);
}

Volume readVolume(const std::string& path, const RawLayout* raw)
{
    return raw != nullptr ? readRaw(path, *raw) : readNifti(path);
}

VolumeOutput::VolumeOutput(const std::string& path)
    : path_(path), nifti_(isNiftiName(path)), compressed_(endsWith(path, ".gz"))
{
    header_ = std::make_unique<OutputFile>(path);
    if (endsWith(path, ".hdr") || endsWith(path, ".hdr.gz")) {
        std::string image = path;
        image.replace(image.rfind(".hdr"), 4, ".img");
        image_ = std::make_unique<OutputFile>(image);
    }
}

VolumeOutput::~VolumeOutput() = default;

void VolumeOutput::write(const Volume& v, const double* gridScale, const double* gridShift)
{
    if (!nifti_) {
        FileWriter raw(*header_, false);
        raw.write(v.bytes.data(), v.bytes.size());
        raw.finish();
        return;
    }
    const double noShift[3] = {0.0, 0.0, 0.0};
    std::unique_ptr<nifti_image, NiftiFree> nim =
        outputHeader(v, gridScale, gridShift != nullptr ? gridShift : noShift);
    const bool nifti2 = v.width > 32767 || v.height > 32767 || v.depth > 32767 || (v.header && v.header->nifti2);
    const std::vector<char> header = niftiHeaderBytes(nim.get(), nifti2, image_ != nullptr);
    FileWriter headerWriter(*header_, compressed_);
    headerWriter.write(header.data(), header.size());
    if (image_) {
        headerWriter.finish();
        FileWriter imageWriter(*image_, compressed_);
        imageWriter.write(v.bytes.data(), v.bytes.size());
        imageWriter.finish();
    } else {
        headerWriter.write(v.bytes.data(), v.bytes.size());
        headerWriter.finish();
    }
}

void VolumeOutput::commit()
{
    if (image_) image_->commit();
    header_->commit();
}

namespace {

template <class To>
To saturate(double v, bool exact, bool floatSource, size_t& lossy)
{
    if constexpr (std::is_integral_v<To>) {
        double r = std::isnan(v) ? 0.0 : std::nearbyint(v);
        r = std::min(std::max(r, static_cast<double>(std::numeric_limits<To>::lowest())),
                     static_cast<double>(std::numeric_limits<To>::max()));
        const To out = static_cast<To>(r);
        lossy += exact ? static_cast<double>(out) != v : !(std::fabs(r - v) <= 0.5);
        return out;
    } else {
        // Finite values beyond the float range saturate; NaN and the
        // infinities pass through.
        if (std::isfinite(v) && std::fabs(v) > static_cast<double>(std::numeric_limits<To>::max())) {
            ++lossy;
            return v > 0 ? std::numeric_limits<To>::max() : std::numeric_limits<To>::lowest();
        }
        const To out = static_cast<To>(v);
        lossy += exact && !floatSource && static_cast<double>(out) != v;
        return out;
    }
}

template <class To>
size_t convertInto(const Volume& in, To* out, bool exact)
{
    size_t lossy = 0;
    const bool floatSource = isFloatType(in.type);
    for (size_t i = 0; i < in.voxelCount(); ++i) out[i] = saturate<To>(in.valueAt(i), exact, floatSource, lossy);
    return lossy;
}

}  // namespace

size_t convertVoxels(const Volume& in, Volume& out, bool exact)
{
    const VoxelType target = out.type;
    out = Volume(in.width, in.height, in.depth, target);
    out.header = in.header;
    switch (target) {
    case VoxelType::U8: return convertInto(in, out.data<uint8_t>(), exact);
    case VoxelType::S8: return convertInto(in, out.data<int8_t>(), exact);
    case VoxelType::U16: return convertInto(in, out.data<uint16_t>(), exact);
    case VoxelType::S16: return convertInto(in, out.data<int16_t>(), exact);
    case VoxelType::U32: return convertInto(in, out.data<uint32_t>(), exact);
    case VoxelType::S32: return convertInto(in, out.data<int32_t>(), exact);
    case VoxelType::F32: return convertInto(in, out.data<float>(), exact);
    default: return convertInto(in, out.data<double>(), exact);
    }
}

}  // namespace vekr_tool
