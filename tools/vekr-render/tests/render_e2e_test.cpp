// vekr-render end to end: small scenes whose every pixel is known.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Outcome {
    int status;
    std::string err;
};

// The process id keeps concurrent runs (two build configurations, other
// checkouts) from sharing files.
std::string tempPath(const std::string& name)
{
    return ::testing::TempDir() + "vekr_render_" + std::to_string(getpid()) + "_" + name;
}

std::string slurp(const std::string& path)
{
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

Outcome runRender(const std::string& args)
{
    const std::string errPath = tempPath("stderr.txt");
    const std::string cmd = std::string(VEKR_RENDER_EXE) + " " + args + " >/dev/null 2>" + errPath;
    const int raw = std::system(cmd.c_str());
    return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(errPath)};
}

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

struct TriangleMap {
    int width = 0, height = 0;
    std::vector<int> tri;
    int at(int r, int c) const { return tri[static_cast<size_t>(r) * width + c]; }
};

TriangleMap readMap(const std::string& path)
{
    TriangleMap m;
    std::ifstream f(path);
    f >> m.width >> m.height;
    m.tri.resize(static_cast<size_t>(m.width) * m.height);
    for (int& t : m.tri) f >> t;
    return m;
}

std::vector<uint8_t> readPng(const std::string& path, int& width, int& height)
{
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) return {};
    img.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, rgb.data(), 0, nullptr)) return {};
    width = static_cast<int>(img.width);
    height = static_cast<int>(img.height);
    return rgb;
}

// A 2 x 2 square in z = 0 split along its diagonal from (1,-1) to (-1,1):
// triangle 0 below-left of it, triangle 1 above-right.
const char kSquare[] =
    "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\n"
    "f 1 2 4\nf 2 3 4\n";

}  // namespace

class VekrRenderTrees : public ::testing::TestWithParam<const char*> {};

TEST_P(VekrRenderTrees, PixelsSeeTheTrianglesInFrontOfThem)
{
    const std::string tree = GetParam();
    const std::string obj = tempPath("square.obj"), png = tempPath("square_" + tree + ".png"),
                      map = tempPath("square_" + tree + ".txt");
    writeFile(obj, kSquare);
    // 70 x 50 leaves partial tiles on the right and at the bottom.
    const int width = 70, height = 50;
    const Outcome run = runRender("--tree " + tree + " -q -s 70x50 --eye 0,0,5 --look-at 0,0,0 --fov 40 -o " + png +
                                  " --triangle-map " + map + " " + obj);
    ASSERT_EQ(run.status, 0) << run.err;

    const TriangleMap m = readMap(map);
    ASSERT_EQ(m.width, width);
    ASSERT_EQ(m.height, height);
    int w = 0, h = 0;
    const std::vector<uint8_t> rgb = readPng(png, w, h);
    ASSERT_EQ(w, width);
    ASSERT_EQ(h, height);

    // Where each pixel centre's ray meets z = 0, in double precision.
    const double step = 2.0 * std::tan(20.0 * M_PI / 180.0) / height;
    int checked = 0;
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const double x = 5.0 * (c + 0.5 - 0.5 * width) * step, y = 5.0 * (0.5 * height - r - 0.5) * step;
            const double edge = std::min({1.0 - std::fabs(x), 1.0 - std::fabs(y), std::fabs(x + y) / std::sqrt(2.0)});
            if (std::fabs(edge) < 0.02) continue;  // too close to an edge to call
            const int expected = (std::fabs(x) > 1.0 || std::fabs(y) > 1.0) ? -1 : (x + y < 0.0 ? 0 : 1);
            EXPECT_EQ(m.at(r, c), expected) << "pixel row " << r << " column " << c;
            ++checked;
        }
    }
    EXPECT_GT(checked, width * height * 3 / 4);

    // Background pixels keep the background: every missed pixel of a row has
    // the same colour as that row's first pixel (which misses), and the lit
    // square is brighter than the background beside it.
    auto px = [&](int r, int c, int k) { return rgb[3 * (static_cast<size_t>(r) * width + c) + k]; };
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            if (m.at(r, c) >= 0) continue;
            for (int k = 0; k < 3; ++k) ASSERT_EQ(px(r, c, k), px(r, 0, k)) << r << "," << c;
        }
    }
    EXPECT_GT(px(25, 35, 0) + px(25, 35, 1) + px(25, 35, 2), px(25, 0, 0) + px(25, 0, 1) + px(25, 0, 2));
}

TEST_P(VekrRenderTrees, OccluderCastsAHardShadow)
{
    // The square of the first test as a floor, a small triangle hovering
    // over it, the light off to the side: the occluder's shadow falls on
    // floor pixels that the camera sees past it.
    const std::string tree = GetParam();
    const std::string obj = tempPath("shadow.obj"), lit = tempPath("shadow_off_" + tree + ".png"),
                      shaded = tempPath("shadow_on_" + tree + ".png"), mapOff = tempPath("shadow_off.txt"),
                      mapOn = tempPath("shadow_on.txt");
    writeFile(obj, std::string(kSquare) + "v -0.2 -0.2 0.5\nv 0.2 -0.2 0.5\nv 0 0.2 0.5\nf 5 6 7\n");
    const std::string common = "--tree " + tree + " -q -s 96x96 --eye 0,0,5 --look-at 0,0,0 --light 2,0,3 ";
    ASSERT_EQ(runRender(common + "--no-shadows -o " + lit + " --triangle-map " + mapOff + " " + obj).status, 0);
    ASSERT_EQ(runRender(common + "-o " + shaded + " --triangle-map " + mapOn + " " + obj).status, 0);
    EXPECT_EQ(readMap(mapOff).tri, readMap(mapOn).tri) << "shadows change no primary hit";

    int w = 0, h = 0;
    const std::vector<uint8_t> off = readPng(lit, w, h), on = readPng(shaded, w, h);
    ASSERT_EQ(off.size(), on.size());
    ASSERT_FALSE(on.empty());
    int darker = 0;
    for (size_t i = 0; i < on.size(); i += 3) {
        const int a = off[i] + off[i + 1] + off[i + 2], b = on[i] + on[i + 1] + on[i + 2];
        EXPECT_LE(b, a) << "a shadow never brightens a pixel";
        darker += b < a;
    }
    // The shadow is the occluder's outline pushed away from the light: a
    // patch of the floor, neither nothing nor everything.
    EXPECT_GT(darker, 40);
    EXPECT_LT(darker, w * h / 4);
}

TEST_P(VekrRenderTrees, XrayCountsTheSurfacesBehindEachPixel)
{
    // Floor square and a triangle hovering over its centre, seen from
    // above: rays through the triangle cross two surfaces, the rest of the
    // floor one, the background none; brightness follows the count.
    const std::string tree = GetParam();
    const std::string obj = tempPath("xray.obj"), png = tempPath("xray_" + tree + ".png"),
                      map = tempPath("xray_" + tree + ".txt");
    writeFile(obj, std::string(kSquare) + "v -0.4 -0.4 0.5\nv 0.4 -0.4 0.5\nv 0 0.4 0.5\nf 5 6 7\n");
    ASSERT_EQ(runRender("--tree " + tree + " -q -s 64x64 --eye 0,0,5 --look-at 0,0,0 --xray=3 -o " + png +
                        " --triangle-map " + map + " " + obj)
                  .status,
              0);
    const TriangleMap m = readMap(map);
    int w = 0, h = 0;
    const std::vector<uint8_t> rgb = readPng(png, w, h);
    ASSERT_EQ(rgb.size(), 64u * 64u * 3u);
    // Per expected count (1 floor, 2 triangle over floor; the background
    // keeps the renderer's backdrop): how often each brightness occurs. A ray through the floor's own diagonal
    // may count both of its halves, so a few pixels may stray.
    std::map<int, int> seen[3];
    int total[3] = {0, 0, 0};
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const int t = m.at(r, c);
            const int count = t < 0 ? 0 : (t == 2 ? 2 : 1);
            const size_t i = 3 * (static_cast<size_t>(r) * w + c);
            ++seen[count][rgb[i] + rgb[i + 1] + rgb[i + 2]];
            ++total[count];
        }
    int brightness[3];
    for (int k = 1; k < 3; ++k) {
        ASSERT_GT(total[k], 0);
        auto most = std::max_element(seen[k].begin(), seen[k].end(),
                                     [](const auto& a, const auto& b) { return a.second < b.second; });
        brightness[k] = most->first;
        EXPECT_GE(most->second, total[k] * 19 / 20) << "surface count " << k;
    }
    EXPECT_GT(brightness[1], 0);
    EXPECT_GT(brightness[2], brightness[1]);
}

TEST_P(VekrRenderTrees, MirrorBallReflectsTheRoom)
{
    // The built-in room has one mirroring object, the ball: bounces change
    // the colour of some pixels that see a surface, never what they see
    // first, and never the background.
    const std::string tree = GetParam();
    const std::string common = "--tree " + tree + " --triangles 3000 -q -s 64x48 ";
    const std::string flat = tempPath("mirror0_" + tree + ".png"), shiny = tempPath("mirror2_" + tree + ".png"),
                      map0 = tempPath("mirror0.txt"), map2 = tempPath("mirror2.txt");
    ASSERT_EQ(runRender(common + "--bounces=0 -o " + flat + " --triangle-map " + map0).status, 0);
    ASSERT_EQ(runRender(common + "--bounces=2 -o " + shiny + " --triangle-map " + map2).status, 0);
    const TriangleMap m = readMap(map0);
    EXPECT_EQ(m.tri, readMap(map2).tri);
    int w = 0, h = 0;
    const std::vector<uint8_t> a = readPng(flat, w, h), b = readPng(shiny, w, h);
    ASSERT_EQ(a.size(), b.size());
    int changed = 0, seen = 0;
    for (size_t p = 0; p < m.tri.size(); ++p) {
        const bool differs = a[3 * p] != b[3 * p] || a[3 * p + 1] != b[3 * p + 1] || a[3 * p + 2] != b[3 * p + 2];
        seen += m.tri[p] >= 0;
        if (!differs) continue;
        ++changed;
        EXPECT_GE(m.tri[p], 0) << "pixel " << p << " sees nothing yet changed";
    }
    EXPECT_GT(changed, 10);
    EXPECT_LT(changed, seen / 3);
}

INSTANTIATE_TEST_SUITE_P(, VekrRenderTrees, ::testing::Values("simple", "sah"));

TEST(VekrRender, FileNormalsChangeShadingNotVisibility)
{
    // The square again, with per-corner normals tilted differently at two
    // corners: a vertex used with two normals is split, which must not move
    // any triangle.
    const std::string plain = tempPath("plain.obj"), normals = tempPath("normals.obj");
    writeFile(plain, kSquare);
    writeFile(normals,
              "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\nvn 0 0 1\nvn 0.3 0 1\nvn 0 0.3 1\n"
              "f 1//1 2//2 4//1\nf 2//3 3//1 4//2\n");
    TriangleMap maps[2];
    std::vector<uint8_t> images[2];
    const std::string* files[2] = {&plain, &normals};
    for (int i = 0; i < 2; ++i) {
        const std::string map = tempPath("normals_" + std::to_string(i) + ".txt");
        const std::string png = tempPath("normals_" + std::to_string(i) + ".png");
        const Outcome run = runRender("--tree simple -q -s 24 --eye 0,0,5 --look-at 0,0,0 -o " + png +
                                      " --triangle-map " + map + " " + *files[i]);
        ASSERT_EQ(run.status, 0) << run.err;
        maps[i] = readMap(map);
        int w = 0, h = 0;
        images[i] = readPng(png, w, h);
    }
    EXPECT_EQ(maps[0].tri, maps[1].tri);
    EXPECT_NE(images[0], images[1]);
}

TEST(VekrRender, BunnySeenAlikeThroughBothTrees)
{
    const std::string bunny = std::string(VEKR_DATA_DIR) + "/bunny.obj";
    ASSERT_TRUE(std::ifstream(bunny).good()) << bunny;
    TriangleMap maps[2];
    const char* trees[2] = {"simple", "sah"};
    for (int i = 0; i < 2; ++i) {
        const std::string map = tempPath(std::string("bunny_") + trees[i] + ".txt");
        const Outcome run = runRender(std::string("--tree ") + trees[i] + " -q -s 48 -o " +
                                      tempPath("bunny.png") + " --triangle-map " + map + " " + bunny);
        ASSERT_EQ(run.status, 0) << run.err;
        maps[i] = readMap(map);
    }
    // Framed from its bounds, the bunny covers the centre and not the corners.
    EXPECT_GE(maps[0].at(24, 24), 0);
    EXPECT_EQ(maps[0].at(0, 0), -1);
    EXPECT_EQ(maps[0].at(47, 47), -1);
    // A single leaf and a real tree find the same nearest triangles, but for
    // the odd pixel whose ray meets a shared edge.
    int differ = 0, hits = 0;
    for (size_t i = 0; i < maps[0].tri.size(); ++i) {
        differ += maps[0].tri[i] != maps[1].tri[i];
        hits += maps[0].tri[i] >= 0;
    }
    EXPECT_GT(hits, 300);
    EXPECT_LE(differ, 3);
}

TEST(VekrRender, BadInputFailsCleanly)
{
    struct Case {
        std::string name, text, message;
    };
    const Case cases[] = {
        {"index.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\n", "outside the vertex list"},
        {"empty.obj", "this is not\na mesh\n", "holds no triangles"},
        {"huge.obj", "v 0 0 0\nv 1e999 0 0\nv 0 1 0\nf 1 2 3\n", "not a finite number"},
        {"edge.obj", "v 0 0 0\nv 1 0 0\nf 1 2\n", "holds no triangles"},
    };
    for (const Case& c : cases) {
        const std::string obj = tempPath(c.name), png = tempPath(c.name + ".png");
        writeFile(obj, c.text);
        std::remove(png.c_str());
        const Outcome run = runRender("--tree simple -q -s 8 -o " + png + " " + obj);
        EXPECT_EQ(run.status, 1) << c.name;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << ": " << run.err;
        EXPECT_FALSE(std::ifstream(png)) << c.name << ": an image was written";
    }

    const Outcome missing = runRender("--tree simple -q -o " + tempPath("missing.png") + " " + tempPath("no_such.obj"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;

    for (const char* args : {"--size 0x5", "--tree octree", "--eye 1,2", "--fov 180", "--bogus", "a.obj b.obj"}) {
        const Outcome run = runRender(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_NE(run.err.find("--help"), std::string::npos) << args << ": " << run.err;
    }
}
