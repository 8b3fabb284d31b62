// vekr-render end to end: small scenes whose every pixel is known.
#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
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
    std::string err, out;
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
    const std::string errPath = tempPath("stderr.txt"), outPath = tempPath("stdout.txt");
    const std::string cmd = std::string(VEKR_RENDER_EXE) + " " + args + " >" + outPath + " 2>" + errPath;
    const int raw = std::system(cmd.c_str());
    return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(errPath), slurp(outPath)};
}

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// A fresh, empty folder for tests that check what a run leaves behind.
std::string freshDir(const std::string& name)
{
    const std::string dir = tempPath(name);
    std::system(("rm -rf '" + dir + "'").c_str());
    mkdir(dir.c_str(), 0755);
    return dir;
}

std::vector<std::string> listDir(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

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
        {"edge.obj", "v 0 0 0\nv 1 0 0\nf 1 2\n", "holds no triangles"},
        // Numbers the OBJ reader would silently take as 0, or that overflow:
        // all refused alike, with the line they are on.
        {"huge.obj", "v 0 0 0\nv 1e999 0 0\nv 0 1 0\nf 1 2 3\n", "line 2: vertex coordinate '1e999' is not a finite number"},
        {"nan.obj", "v 0 0 0\nv 1 0 0\nv 0 nan 0\nv 1 1 0\nf 1 2 3\nf 2 4 3\n",
         "line 3: vertex coordinate 'nan' is not a finite number"},
        {"allnan.obj", "v nan nan nan\nv nan nan nan\nv nan nan nan\nf 1 2 3\n", "line 1: vertex coordinate 'nan'"},
        {"inf.obj", "v 0 0 0\nv -inf 0 0\nv 0 1 0\nf 1 2 3\n", "line 2: vertex coordinate '-inf' is not a finite"},
        {"unused.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 NaN\nf 1 2 3\n", "line 4: vertex coordinate 'NaN'"},
        {"normal.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 nan\nf 1//1 2//1 3//1\n", "line 4: normal coordinate 'nan'"},
        {"word.obj", "v 0 0 0\nv 1 zero 0\nv 0 1 0\nf 1 2 3\n", "line 2: vertex coordinate 'zero' is not a number"},
        {"short.obj", "v 0 0 0\nv 1 0\nv 0 1 0\nf 1 2 3\n", "line 2: vertex with fewer than three coordinates"},
        // Extreme coordinates: finite, but beyond what single-precision
        // areas and distances hold.
        {"far.obj", "v 0 0 0\nv 3e38 0 0\nv 0 1 0\nf 1 2 3\n", "line 2: vertex coordinate '3e38' is out of range"},
        {"far2.obj", "v 0 0 0\r\nv 1 0 0\r\nv 0 -2e18 0\r\nf 1 2 3\r\n", "line 3: vertex coordinate '-2e18' is out of range"},
    };
    for (const Case& c : cases) {
        const std::string obj = tempPath(c.name), png = tempPath(c.name + ".png");
        writeFile(obj, c.text);
        std::remove(png.c_str());
        const Outcome run = runRender("--tree simple -q -s 8 -o " + png + " " + obj);
        EXPECT_EQ(run.status, 1) << c.name;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.name << ": " << run.err;
        EXPECT_FALSE(std::ifstream(png)) << c.name << ": an image was written";
    }

    const Outcome missing = runRender("--tree simple -q -o " + tempPath("missing.png") + " " + tempPath("no_such.obj"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;

    for (const char* args : {"--size 0x5", "--tree octree", "--eye 1,2", "--eye 1e300,0,0", "--light 0,nan,0", "--fov 180",
                             "--bogus", "a.obj b.obj"}) {
        const Outcome run = runRender(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_NE(run.err.find("--help"), std::string::npos) << args << ": " << run.err;
    }
}

TEST(VekrRender, FailedWriteLeavesNothingBehind)
{
    // Each run fails while writing; the folder must afterwards hold
    // exactly what it held before: no partial image or map, no temporary
    // file, and an image that was there before keeps its old content.
    const std::string dir = freshDir("writes");
    const std::string png = dir + "/out.png", map = dir + "/out.txt";
    writeFile(png, "old image");
    const std::string scene = "--triangles 3000 -q -s 128 ";  // a PNG of several kilobytes
    struct Case {
        const char* name;
        std::string command, message;
    };
    const Case cases[] = {
        // The shell's file-size limit counts blocks of 512 or 1024 bytes.
        {"file-size limit", "ulimit -f 2; " + std::string(VEKR_RENDER_EXE) + " " + scene + "-o " + png, "File too large"},
        {"full disk", std::string(VEKR_RENDER_EXE) + " " + scene + "-o /dev/full", "No space left"},
        {"map fails after the image", std::string(VEKR_RENDER_EXE) + " " + scene + "-o " + png + " --triangle-map /dev/full",
         "No space left"},
        {"new file, limit", "ulimit -f 2; " + std::string(VEKR_RENDER_EXE) + " " + scene + "-o " + dir + "/new.png",
         "File too large"},
    };
    for (const Case& c : cases) {
        const std::string errPath = tempPath("write_stderr.txt");
        const int raw = std::system(("(" + c.command + ") >/dev/null 2>" + errPath).c_str());
        const std::string err = slurp(errPath);
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << c.name << ": status " << raw << " " << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.name << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.name << ": " << err;
        EXPECT_EQ(listDir(dir), std::vector<std::string>{"out.png"}) << c.name;
        EXPECT_EQ(slurp(png), "old image") << c.name;
    }
    struct stat st;
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "a device must be written in place, never replaced";

    // The same run without the limit replaces the old file whole.
    const Outcome ok = runRender(scene + "-o " + png + " --triangle-map " + map);
    ASSERT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(listDir(dir), (std::vector<std::string>{"out.png", "out.txt"}));
    int w = 0, h = 0;
    EXPECT_EQ(readPng(png, w, h).size(), 128u * 128u * 3u);
    EXPECT_EQ(readMap(map).tri.size(), 128u * 128u);
}

TEST(VekrRender, ConcavePolygonKeepsItsShape)
{
    // One eight-cornered U-shaped face in z = 0, seen head on. Split from
    // one corner as a fan, its triangles would cover the notch; split
    // correctly, the notch stays background and the arms are covered.
    const std::string obj = tempPath("u.obj"), png = tempPath("u.png"), map = tempPath("u.txt");
    writeFile(obj,
              "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv 0.5 1 0\nv 0.5 -0.5 0\nv -0.5 -0.5 0\nv -0.5 1 0\nv -1 1 0\n"
              "f 1 2 3 4 5 6 7 8\n");
    const int size = 64;
    const Outcome run = runRender("--tree simple -s 64 --eye 0,0,5 --look-at 0,0,0 --fov 40 -o " + png +
                                  " --triangle-map " + map + " " + obj);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("6 triangles"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1 polygon split into triangles"), std::string::npos) << run.out;
    const TriangleMap m = readMap(map);
    ASSERT_EQ(m.width, size);
    const double step = 2.0 * std::tan(20.0 * M_PI / 180.0) / size;
    int checked = 0;
    for (int r = 0; r < size; ++r)
        for (int c = 0; c < size; ++c) {
            const double x = 5.0 * (c + 0.5 - 0.5 * size) * step, y = 5.0 * (0.5 * size - r - 0.5) * step;
            const bool inSquare = std::fabs(x) < 1 && std::fabs(y) < 1;
            const bool inNotch = std::fabs(x) < 0.5 && y > -0.5;
            // Too close to an edge of the U to call.
            const double edge = std::min({std::fabs(std::fabs(x) - 1), std::fabs(std::fabs(y) - 1), std::fabs(std::fabs(x) - 0.5),
                                          std::fabs(y + 0.5)});
            if (edge < 0.03) continue;
            EXPECT_EQ(m.at(r, c) >= 0, inSquare && !inNotch) << "x " << x << " y " << y;
            ++checked;
        }
    EXPECT_GT(checked, size * size / 2);
}

TEST(VekrRender, PolygonOfManyCorners)
{
    // A 300-cornered polygon: a disc of radius 1 with every other corner
    // pulled in to 0.9, in z = 0. More than 255 corners must neither
    // confuse the face list (nor the faces after it) nor lose triangles.
    std::string text;
    const int n = 300;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * M_PI * i / n, r = i % 2 ? 0.9 : 1.0;
        text += "v " + std::to_string(r * std::cos(a)) + " " + std::to_string(r * std::sin(a)) + " 0\n";
    }
    text += "v 2 2 0\nv 3 2 0\nv 2 3 0\nf";
    for (int i = 1; i <= n; ++i) text += " " + std::to_string(i);
    text += "\nf 301 302 303\n";
    const std::string obj = tempPath("many.obj"), map = tempPath("many.txt");
    writeFile(obj, text);
    const Outcome run = runRender("--tree simple -s 64 --eye 1,1,12 --look-at 1,1,0 -o " + tempPath("many.png") +
                                  " --triangle-map " + map + " " + obj);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("299 triangles"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1 polygon split into triangles"), std::string::npos) << run.out;
    // The triangle after the polygon is number 298 and is seen where it is.
    const TriangleMap m = readMap(map);
    const double step = 2.0 * std::tan(20.0 * M_PI / 180.0) / 64;
    int inDisc = 0, hitDisc = 0;
    for (int r = 0; r < 64; ++r)
        for (int c = 0; c < 64; ++c) {
            const double x = 1 + 12.0 * (c + 0.5 - 32) * step, y = 1 + 12.0 * (32 - r - 0.5) * step;
            const double rho = std::hypot(x, y);
            if (rho < 0.85) {
                ++inDisc;
                hitDisc += m.at(r, c) >= 0 && m.at(r, c) < 298;
            }
            if (rho > 1.05 && !(x > 1.95 && y > 1.95 && x + y < 5.05)) {
                EXPECT_EQ(m.at(r, c), -1) << "x " << x << " y " << y;
            }
            if (x > 2.05 && y > 2.05 && x + y < 4.95) {
                EXPECT_EQ(m.at(r, c), 298) << "x " << x << " y " << y;
            }
        }
    EXPECT_GT(inDisc, 50);
    EXPECT_EQ(hitDisc, inDisc);
}

TEST(VekrRender, OutOfMemoryFailsCleanly)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limits below allow";
#else
    // Under an address-space limit: an image that cannot fit is refused
    // before anything is built; a scene that cannot fit runs out while it
    // is made. Either way one line and exit 1, never an abort from an
    // uncaught exception, and no image.
    const std::string dir = freshDir("oom");
    struct Case {
        const char* name;
        std::string args, message;
    };
    const Case cases[] = {
        {"huge image", "--size 16384 --triangles 3000", "a 16384 x 16384 image needs 4096 MB"},
        {"huge scene", "--size 8 --triangles 5000000", "out of memory while loading the scene"},
    };
    for (const Case& c : cases) {
        const std::string errPath = tempPath("oom_stderr.txt");
        const std::string cmd = "ulimit -v 150000 && " + std::string(VEKR_RENDER_EXE) + " -q " + c.args + " -o " + dir +
                                "/out.png >/dev/null 2>" + errPath;
        const int raw = std::system(cmd.c_str());
        const std::string err = slurp(errPath);
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << c.name << ": status " << raw << " " << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.name << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.name << ": " << err;
        EXPECT_TRUE(listDir(dir).empty()) << c.name;
    }
#endif
}

TEST(VekrRender, TreeMemoryTooSmallSaysWhatTheSceneNeeds)
{
    // Too small a --tree-memory is the user's budget, not the machine
    // running out: the message says so and names a budget that works.
    const std::string obj = tempPath("budget.obj"), png = tempPath("budget.png");
    writeFile(obj, kSquare);
    const Outcome small = runRender("-q -s 16 --tree-memory 32 -o " + png + " " + obj);
    EXPECT_EQ(small.status, 1);
    EXPECT_EQ(small.err.find("out of memory"), std::string::npos) << small.err;
    EXPECT_NE(small.err.find("needs more working memory than --tree-memory=32"), std::string::npos) << small.err;
    const size_t at = small.err.find("--tree-memory=", small.err.find("needs about"));
    ASSERT_NE(at, std::string::npos) << small.err;
    const int needed = std::atoi(small.err.c_str() + at + 14);
    EXPECT_GT(needed, 32);
    const Outcome enough = runRender("-q -s 16 --tree-memory " + std::to_string(needed) + " -o " + png + " " + obj);
    EXPECT_EQ(enough.status, 0) << "the budget named is enough: " << enough.err;
}

TEST(VekrRender, ObjMirrorMaterialsReflect)
{
    // A mirror square in z = 0 (black itself, mirroring all light) seen
    // head on, and a large red wall behind the camera at z = 10 facing it,
    // lit from between. Without bounces the mirror is black; with them it
    // shows the red wall. A material with highlights only (illum 2) and
    // the same Ks is no mirror.
    const std::string mtlName = "vekr_render_" + std::to_string(getpid()) + "_mirror.mtl";
    const std::string mtl = ::testing::TempDir() + mtlName, obj = tempPath("mirror.obj"), map = tempPath("mirror.txt");
    struct Case {
        const char* name;
        int illum, bounces;
        bool reflects;
    };
    const Case cases[] = {
        {"illum 3, no bounces", 3, 0, false},
        {"illum 3, one bounce", 3, 1, true},
        {"illum 5, two bounces", 5, 2, true},
        {"illum 2, two bounces", 2, 2, false},
    };
    for (const Case& c : cases) {
        writeFile(mtl, "newmtl glass\nKd 0 0 0\nKs 1 1 1\nillum " + std::to_string(c.illum) +
                           "\nnewmtl red\nKd 1 0 0\nillum 1\n");
        writeFile(obj, "mtllib " + mtlName +
                           "\nv -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\n"
                           "v -50 -50 10\nv 50 -50 10\nv 50 50 10\nv -50 50 10\n"
                           "usemtl glass\nf 1 2 3 4\nusemtl red\nf 5 8 7 6\n");
        const std::string png = tempPath("mirror.png");
        const Outcome run = runRender("-s 32 --eye 0,0,5 --look-at 0,0,0 --light 0,0,8 --bounces " +
                                      std::to_string(c.bounces) + " -o " + png + " --triangle-map " + map + " " + obj);
        ASSERT_EQ(run.status, 0) << c.name << ": " << run.err;
        EXPECT_EQ(run.out.find("2 mirror triangles") != std::string::npos, c.illum != 2) << c.name << ": " << run.out;
        const TriangleMap m = readMap(map);
        int w = 0, h = 0;
        const std::vector<uint8_t> rgb = readPng(png, w, h);
        ASSERT_EQ(rgb.size(), 32u * 32u * 3u) << c.name;
        int mirrorPixels = 0;
        for (size_t p = 0; p < m.tri.size(); ++p) {
            if (m.tri[p] != 0 && m.tri[p] != 1) continue;  // the mirror square's two triangles
            ++mirrorPixels;
            const int r = rgb[3 * p], g = rgb[3 * p + 1], b = rgb[3 * p + 2];
            if (c.reflects) {
                EXPECT_GT(r, 100) << c.name << " pixel " << p;
                EXPECT_LT(g + b, 20) << c.name << " pixel " << p;
            } else {
                EXPECT_LT(r + g + b, 10) << c.name << " pixel " << p;
            }
        }
        EXPECT_GT(mirrorPixels, 200) << c.name;
    }
}

TEST(VekrRender, InterruptRemovesTheTemporaryFile)
{
    // The triangle map goes to a pipe nobody reads, so the program stops in
    // opening it, after the image's temporary file is complete: a
    // deterministic moment to interrupt it. It must remove that file and
    // end by the signal.
    const std::string dir = freshDir("interrupt"), fifoDir = freshDir("interrupt_fifo");
    const std::string fifo = fifoDir + "/map";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string png = dir + "/out.png";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(VEKR_RENDER_EXE, VEKR_RENDER_EXE, "-q", "--triangles", "3000", "-s", "64", "-o", png.c_str(),
              "--triangle-map", fifo.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    bool seen = false;
    for (int i = 0; i < 600 && !seen; ++i) {
        for (const std::string& name : listDir(dir)) seen = seen || name.rfind(".out.png.tmp", 0) == 0;
        if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(seen) << "no temporary file appeared";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_TRUE(listDir(dir).empty());
    std::remove(fifo.c_str());
}
