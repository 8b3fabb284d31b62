// Writes the input files of the vekr-volume end-to-end test into a folder:
// NIfTI files built field by field from the format's header layouts (not by
// the I/O library the tool reads them with), damaged copies of them, and for
// each readable one the raw voxels the tool must reproduce from it.
//
//   make_test_volumes FOLDER

#include <nifti1.h>
#include <nifti2.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

std::string folder;

void save(const std::string& name, const std::vector<unsigned char>& bytes)
{
    const std::string path = folder + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "make_test_volumes: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

template <class T>
std::vector<unsigned char> bytesOf(const std::vector<T>& v)
{
    std::vector<unsigned char> b(v.size() * sizeof(T));
    std::memcpy(b.data(), v.data(), b.size());
    return b;
}

template <class T>
void reverseEach(T* values, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        unsigned char* p = reinterpret_cast<unsigned char*>(&values[i]);
        for (size_t a = 0, b = sizeof(T) - 1; a < b; ++a, --b) std::swap(p[a], p[b]);
    }
}

// A single-file NIfTI-1 volume (352-byte prologue), voxel size 1, in this
// machine's byte order unless bigEndian (then every field is reversed).
template <class T>
std::vector<unsigned char> nifti1(int w, int h, int d, short datatype, std::vector<T> voxels, bool bigEndian = false)
{
    nifti_1_header hdr;
    std::memset(&hdr, 0, sizeof hdr);
    hdr.sizeof_hdr = 348;
    hdr.dim[0] = 3, hdr.dim[1] = static_cast<short>(w), hdr.dim[2] = static_cast<short>(h), hdr.dim[3] = static_cast<short>(d);
    for (int i = 4; i < 8; ++i) hdr.dim[i] = 1;
    hdr.datatype = datatype;
    hdr.bitpix = static_cast<short>(8 * sizeof(T));
    for (int i = 0; i < 8; ++i) hdr.pixdim[i] = 1.0f;
    hdr.vox_offset = 352.0f;
    std::memcpy(hdr.magic, "n+1", 4);
    if (bigEndian) {
        reverseEach(&hdr.sizeof_hdr, 1);
        reverseEach(hdr.dim, 8);
        reverseEach(&hdr.datatype, 1);
        reverseEach(&hdr.bitpix, 1);
        reverseEach(hdr.pixdim, 8);
        reverseEach(&hdr.vox_offset, 1);
        reverseEach(voxels.data(), voxels.size());
    }
    std::vector<unsigned char> out(352, 0);
    std::memcpy(out.data(), &hdr, sizeof hdr);
    const std::vector<unsigned char> data = bytesOf(voxels);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

template <class T>
std::vector<unsigned char> nifti2(int w, int h, int d, short datatype, const std::vector<T>& voxels)
{
    nifti_2_header hdr;
    std::memset(&hdr, 0, sizeof hdr);
    hdr.sizeof_hdr = 540;
    std::memcpy(hdr.magic, "n+2\0\r\n\032\n", 8);
    hdr.datatype = datatype;
    hdr.bitpix = static_cast<short>(8 * sizeof(T));
    hdr.dim[0] = 3, hdr.dim[1] = w, hdr.dim[2] = h, hdr.dim[3] = d;
    for (int i = 4; i < 8; ++i) hdr.dim[i] = 1;
    for (int i = 0; i < 8; ++i) hdr.pixdim[i] = 1.0;
    hdr.vox_offset = 544;
    std::vector<unsigned char> out(544, 0);
    std::memcpy(out.data(), &hdr, sizeof hdr);
    const std::vector<unsigned char> data = bytesOf(voxels);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<unsigned char> gzip(const std::vector<unsigned char>& in)
{
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::vector<unsigned char> out(deflateBound(&z, in.size()) + 64);
    z.next_in = const_cast<unsigned char*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::vector<unsigned char> firstBytes(std::vector<unsigned char> v, size_t n)
{
    v.resize(n);
    return v;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_test_volumes FOLDER\n");
        return 2;
    }
    folder = argv[1];

    // 4 x 4 x 4 floats with NaN and both infinities among ordinary values.
    std::vector<float> specials(64);
    for (int i = 0; i < 64; ++i) specials[i] = 0.25f * i;
    specials[5] = std::numeric_limits<float>::quiet_NaN();
    specials[21] = std::numeric_limits<float>::infinity();
    specials[42] = -std::numeric_limits<float>::infinity();
    save("specials.nii", nifti1(4, 4, 4, DT_FLOAT32, specials));
    save("specials.raw", bytesOf(specials));

    // Types the volume functions do not take, with values f32 holds exactly.
    std::vector<int32_t> ints(60);
    for (int i = 0; i < 60; ++i) ints[i] = (i - 30) * 100003;
    save("int32.nii", nifti1(3, 4, 5, DT_INT32, ints));
    save("int32.raw", bytesOf(ints));
    std::vector<double> doubles(60);
    for (int i = 0; i < 60; ++i) doubles[i] = (i - 30) * 0.5;
    save("float64.nii", nifti1(3, 4, 5, DT_FLOAT64, doubles));
    save("float64.raw", bytesOf(doubles));

    // Big-endian signed 16-bit voxels: the reader must swap them.
    std::vector<int16_t> shorts(60);
    for (int i = 0; i < 60; ++i) shorts[i] = static_cast<int16_t>((i - 30) * 1001);
    save("big_endian.nii", nifti1(3, 4, 5, DT_INT16, shorts, true));
    save("big_endian.raw", bytesOf(shorts));

    // NIfTI-2, 3 x 4 x 5 unsigned 16-bit.
    std::vector<uint16_t> words(60);
    for (int i = 0; i < 60; ++i) words[i] = static_cast<uint16_t>(i * 1000 + 7);
    save("nifti2.nii", nifti2(3, 4, 5, DT_UINT16, words));
    save("nifti2.raw", bytesOf(words));

    // Damaged files: the voxels cut short, plain and compressed.
    std::vector<uint8_t> bytes(8 * 8 * 8);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    const std::vector<unsigned char> whole = nifti1(8, 8, 8, DT_UINT8, bytes);
    save("truncated.nii", firstBytes(whole, 352 + 300));
    const std::vector<unsigned char> packed = gzip(whole);
    save("truncated.nii.gz", firstBytes(packed, packed.size() / 2));
    // A file that is no NIfTI at all.
    const char* text = "this is not a volume\n";
    save("not_a_volume.nii", std::vector<unsigned char>(text, text + std::strlen(text)));
    return 0;
}
