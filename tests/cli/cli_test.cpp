// plumora-cli run as a user runs it: the built binary, real files, exit statuses.

#include "cli/cli.h"
#include "document/recipe.h"
#include "effects/effects.h"
#include "formats/bmp.h"
#include "formats/exif.h"
#include "formats/metadata.h"
#include "formats/jpeg.h"
#include "formats/picture_file.h"
#include "effects/paint/brume.h"
#include "effects/relief/texture.h"
#include "formats/textures.h"
#include "effects/sketch/pen_sketch.h"
#include "raster/geometry.h"
#include "raster/parallel.h"
#include "support/pictures.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

namespace plumora {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string quote(const std::string& s)
{
    std::string q(1, '\'');
    for (char c : s) {
        if (c == '\'')
            q.append("'\\''");
        else
            q.push_back(c);
    }
    q.push_back('\'');
    return q;
}

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class CliTest : public test::TempFolderTest {
protected:
    // environment: a prefix such as "env NAME=value " run before the tool.
    CliRun run(const std::vector<std::string>& args, const std::string& environment = {}) const
    {
        std::string command = environment + quote(PLUMORA_CLI);
        for (const std::string& a : args) {
            command.push_back(' ');
            command.append(quote(a));
        }
        command.append(" >").append(quote(path("stdout.txt")));
        command.append(" 2>").append(quote(path("stderr.txt")));
        command.append(" </dev/null");
        const int raw = std::system(command.c_str());
        CliRun r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = slurp(path("stdout.txt"));
        r.err = slurp(path("stderr.txt"));
        fs::remove(path("stdout.txt"));
        fs::remove(path("stderr.txt"));
        return r;
    }

    TBitmap32 writePicture(const std::string& name, int w, int h, unsigned seed) const
    {
        TBitmap32 p = test::randomPicture(w, h, seed);
        FillAlpha(p, 255);
        savePicture(p, path(name));
        return p;
    }
};

TEST_F(CliTest, PenSketchWritesTheEffectOfTheOpenedPicture)
{
    const TBitmap32 p = writePicture("in.bmp", 40, 30, 1);
    const CliRun r = run({"pen-sketch", "--pressure", "100", path("in.bmp"), path("out.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(openPicture(path("out.bmp")), penSketch(p, 100));
    // Without the parameter the dialog's default applies.
    ASSERT_EQ(run({"pen-sketch", path("in.bmp"), path("default.bmp")}).status, 0);
    EXPECT_EQ(openPicture(path("default.bmp")), penSketch(p, 128));
}

TEST_F(CliTest, ConvertAndTurnsKeepEveryPixel)
{
    const TBitmap32 p = writePicture("in.bmp", 7, 3, 2);
    ASSERT_EQ(run({"convert", path("in.bmp"), path("copy.png")}).status, 0);
    ASSERT_EQ(run({"convert", path("in.bmp"), path("copy.bmp")}).status, 0);
    EXPECT_EQ(openPicture(path("copy.bmp")), p);
    ASSERT_EQ(run({"rotate-cw", path("in.bmp"), path("cw.bmp")}).status, 0);
    EXPECT_EQ(openPicture(path("cw.bmp")), rotateClockwise(p));
    ASSERT_EQ(run({"resize", "--width", "14", path("in.bmp"), path("big.bmp")}).status, 0);
    EXPECT_EQ(openPicture(path("big.bmp")), stretchTo(p, 14, 6));
}

TEST_F(CliTest, ReadsQtFormatsAndWritesMetafiles)
{
    const TBitmap32 p = writePicture("in.png", 11, 6, 12);
    const CliRun r = run({"convert", path("in.png"), path("out.wmf")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(openPicture(path("out.wmf")), p);
}

// A placeable WMF of 120 x 60 pixels writing "HH" in black, bold, 40 pixels
// high, from (10, 10): the letters of a formula, which the tool left out.
std::string textWmf()
{
    std::string b;
    const auto u16 = [&](unsigned v) {
        b.push_back(char(v & 0xFF));
        b.push_back(char((v >> 8) & 0xFF));
    };
    const auto u32 = [&](std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    // The placeable header: key, handle, box, units an inch, reserved, checksum.
    u32(0x9AC6CDD7);
    for (unsigned v : {0u, 0u, 0u, 120u, 60u, 96u, 0u, 0u})
        u16(v);
    unsigned checksum = 0;
    for (std::size_t i = 0; i < 20; i += 2)
        checksum ^= unsigned(std::uint8_t(b[i])) | unsigned(std::uint8_t(b[i + 1])) << 8;
    u16(checksum);
    // The metafile header: type, its words, version, file words, objects, largest record, unused.
    const std::uint32_t words = 9 + 28 + 4 + 4 + 7 + 3;
    for (unsigned v : {1u, 9u, 0x300u})
        u16(v);
    u32(words);
    u16(1);
    u32(28);
    u16(0);
    // CREATEFONTINDIRECT: height -40, width, escapement, orientation, weight
    // 700, eight bytes of flags, a 32-byte face name.
    u32(28);
    u16(0x02FB);
    for (unsigned v : {unsigned(std::uint16_t(-40)), 0u, 0u, 0u, 700u, 0u, 0u, 0u, 0u})
        u16(v);
    std::string face = "DejaVu Sans";
    face.resize(32, '\0');
    b += face;
    // SELECTOBJECT 0, SETBKMODE transparent, TEXTOUT "HH" at y 10, x 10, EOF.
    for (unsigned v : {4u, 0u, 0x012Du, 0u, 4u, 0u, 0x0102u, 1u, 7u, 0u, 0x0521u, 2u})
        u16(v);
    b += "HH";
    for (unsigned v : {10u, 10u, 3u, 0u, 0u})
        u16(v);
    return b;
}

TEST_F(CliTest, MetafileTextIsDrawnWithoutADisplay)
{
    {
        std::ofstream out(path("formula.wmf"), std::ios::binary);
        out << textWmf();
    }
    // No display, and a session's platform that cannot be reached here; the
    // font library's cache goes to the test's folder.
    const std::string environment =
        "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb XDG_CACHE_HOME=" + quote(path("cache")) + " ";
    const CliRun r = run({"convert", path("formula.wmf"), path("formula.bmp")}, environment);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const TBitmap32 p = openPicture(path("formula.bmp"));
    ASSERT_EQ(p.width(), 120);
    ASSERT_EQ(p.height(), 60);
    int inside = 0, outside = 0;
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x) {
            const std::uint8_t* q = p.ScanLine(y) + 4 * x;
            if (q[0] < 96 && q[1] < 96 && q[2] < 96)
                ++(x >= 10 && x < 80 && y >= 10 && y < 55 ? inside : outside);
        }
    EXPECT_GT(inside, 300);  // two bold capitals about 30 x 29 pixels each
    EXPECT_EQ(outside, 0);
}

TEST_F(CliTest, JpegInAndOut)
{
    writePicture("in.bmp", 64, 48, 3);
    ASSERT_EQ(run({"convert", path("in.bmp"), path("a.jpg")}).status, 0);
    const CliRun r = run({"pen-sketch", path("a.jpg"), path("b.jpeg")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(openPicture(path("b.jpeg")).width(), 64);
}

TEST_F(CliTest, QualitySetsTheJpegQuality)
{
    writePicture("in.bmp", 40, 30, 6);
    ASSERT_EQ(run({"convert", "--quality", "35", path("in.bmp"), path("q35.jpg")}).status, 0);
    EXPECT_EQ(readWholeFile(path("q35.jpg")), encodeJpeg(openPicture(path("in.bmp")), 35));
    // Without it, 90 as always; in a batch, every JPEG written.
    ASSERT_EQ(run({"convert", path("in.bmp"), path("q90.jpg")}).status, 0);
    EXPECT_EQ(readWholeFile(path("q90.jpg")), encodeJpeg(openPicture(path("in.bmp")), 90));
    const CliRun batch =
        run({"pen-sketch", "--quality", "100", path("in.bmp"), "--output-dir", path("out"), "--format", "jpg"});
    ASSERT_EQ(batch.status, 0) << batch.err;
    EXPECT_EQ(readWholeFile(path("out/in.jpg")), encodeJpeg(penSketch(openPicture(path("in.bmp")), 128), 100));
    // A quality out of range, not a number, or for a type without one is refused.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"convert", "--quality", "0", path("in.bmp"), path("x.jpg")},
          {"convert", "--quality", "101", path("in.bmp"), path("x.jpg")},
          {"convert", "--quality", "9x", path("in.bmp"), path("x.jpg")},
          {"convert", "--quality", "50", path("in.bmp"), path("x.png")},
          {"convert", "--quality", "50", path("in.bmp"), "--output-dir", path("o"), "--format", "bmp"}}) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 2) << args[2] << " " << args.back();
        EXPECT_NE(r.err.find("--quality"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(path("x.jpg")));
}

TEST_F(CliTest, ListAndHelpDescribeEveryParameter)
{
    const CliRun list = run({"--list"});
    ASSERT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("pen-sketch"), std::string::npos);
    EXPECT_NE(list.out.find("--pressure N"), std::string::npos);
    EXPECT_NE(list.out.find("0..255, default 128"), std::string::npos);
    EXPECT_NE(list.out.find("convert"), std::string::npos);
    const CliRun help = run({"pen-sketch", "--help"});
    ASSERT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Pen Pressure: 0..255, default 128"), std::string::npos);
    EXPECT_EQ(run({"--help"}).status, 0);
}

TEST_F(CliTest, BrumeStartsEveryFileFromTheProgramsFirstState)
{
    const TBitmap32 p = writePicture("a.bmp", 30, 20, 5);
    writePicture("b.bmp", 30, 20, 5);
    ASSERT_EQ(run({"brume", "--scope", "4", path("a.bmp"), path("alone.bmp")}).status, 0);
    ASSERT_EQ(run({"brume", "--scope", "4", path("a.bmp"), path("b.bmp"), "--output-dir", path("batch")}).status, 0);
    BrumeRandom first;
    const TBitmap32 expected = brume(p, 4, first);
    EXPECT_EQ(openPicture(path("alone.bmp")), expected);
    EXPECT_EQ(openPicture(path("batch/a.bmp")), expected);
    EXPECT_EQ(openPicture(path("batch/b.bmp")), expected);  // not the sequence's continuation
}

TEST_F(CliTest, TextureTakesABuiltInTileOrOneOfYourOwn)
{
    const TBitmap32 p = writePicture("in.bmp", 70, 60, 6);
    TBitmap32 tile = builtInTexture(7);
    savePicture(tile, path("tile.png"));
    ASSERT_EQ(run({"texture", "--tile", "7", "--pressure", "80", path("in.bmp"), path("built-in.bmp")}).status, 0);
    ASSERT_EQ(
        run({"texture", "--tile-file", path("tile.png"), "--pressure", "80", path("in.bmp"), path("own.bmp")}).status,
        0);
    EXPECT_EQ(openPicture(path("built-in.bmp")), TextureBlend(tile, p, 80));
    EXPECT_EQ(openPicture(path("own.bmp")), TextureBlend(tile, p, 80));

    // A tile of another size, or none, is this file's failure.
    const CliRun wrong = run({"texture", "--tile-file", path("in.bmp"), path("in.bmp"), path("o.bmp")});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("58 x 58"), std::string::npos) << wrong.err;
    const CliRun missing = run({"texture", "--tile-file", path("none.png"), path("in.bmp"), path("o.bmp")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("none.png: no such file"), std::string::npos) << missing.err;
    EXPECT_EQ(run({"texture", "--tile", "7", "--tile-file", path("tile.png"), path("in.bmp"), path("o.bmp")}).status,
              2);
}

TEST_F(CliTest, TheReadmesTableOfEffectsIsTheOneTheToolPrints)
{
    const CliRun table = run({"--list", "--markdown"});
    ASSERT_EQ(table.status, 0);
    const std::string readme = slurp(PLUMORA_README);
    const std::string begin = "<!-- effects table begins -->\n", end = "<!-- effects table ends -->";
    const std::size_t from = readme.find(begin), to = readme.find(end);
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    EXPECT_EQ(readme.substr(from + begin.size(), to - from - begin.size()), table.out)
        << "README.md's table of effects is stale: tools/refresh_readme_table.sh rewrites it";
}

TEST_F(CliTest, ChoicesTakeTheirWordOrTheirPlace)
{
    writePicture("in.bmp", 12, 9, 4);
    ASSERT_EQ(run({"dozadir", "--direction", "vertical", path("in.bmp"), path("word.bmp")}).status, 0);
    ASSERT_EQ(run({"dozadir", "--direction", "3", path("in.bmp"), path("place.bmp")}).status, 0);
    EXPECT_EQ(slurp(path("word.bmp")), slurp(path("place.bmp")));
    const CliRun bad = run({"dozadir", "--direction", "up", path("in.bmp"), path("o.bmp")});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "plumora-cli: 'up' is not a choice for --direction "
                       "(rising|falling|vertical|horizontal (or 1..4), default rising)\n");
    const CliRun both = run({"pencil-sketch", "--lighting", "3", "--contrast", "4", path("in.bmp"), path("o.bmp")});
    EXPECT_EQ(both.err, "plumora-cli: pencil-sketch takes --contrast or --lighting, not both\n");
}

TEST_F(CliTest, BadCommandLinesAreUsageErrorsAndWriteNothing)
{
    writePicture("in.bmp", 5, 5, 4);
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"no-such-effect", path("in.bmp"), path("o.bmp")},
        {"pen-sketch", "--pressure", "abc", path("in.bmp"), path("o.bmp")},
        {"pen-sketch", "--pressure", "256", path("in.bmp"), path("o.bmp")},
        {"pen-sketch", "--pressure"},
        {"pen-sketch", "--depth", "3", path("in.bmp"), path("o.bmp")},
        {"pen-sketch", path("in.bmp")},
        {"pen-sketch", path("in.bmp"), path("o.gif")},
        {"resize", path("in.bmp"), path("o.bmp")},
        {"convert", path("in.bmp"), path("in.bmp"), "--format", "tga", "--output-dir", path("d")},
    };
    for (const auto& args : bad) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "(none)" : args[0]) << " " << r.err;
        EXPECT_NE(r.err, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n') >= 1, true);
    }
    EXPECT_FALSE(fs::exists(path("o.bmp")));
    const CliRun letters = run({"pen-sketch", "--pressure", "abc", path("in.bmp"), path("o.bmp")});
    EXPECT_EQ(letters.err, "plumora-cli: 'abc' is not a valid integer value\n");
}

TEST_F(CliTest, UnreadableFilesAreRuntimeErrorsNamingTheFile)
{
    std::ofstream(path("broken.bmp")) << "BM not really";
    std::ofstream(path("text.png")) << "hello";
    writePicture("good.bmp", 4, 4, 5);
    for (const std::string& input : {path("broken.bmp"), path("text.png"), path("missing.bmp")}) {
        const CliRun r = run({"pen-sketch", input, path("o.bmp")});
        EXPECT_EQ(r.status, 1) << input;
        EXPECT_EQ(r.err.rfind("plumora-cli: " + input + ": ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_FALSE(fs::exists(path("o.bmp")));
    // A picture too small for the effect is a runtime error too.
    writePicture("row.bmp", 9, 1, 6);
    const CliRun row = run({"pen-sketch", path("row.bmp"), path("o.bmp")});
    EXPECT_EQ(row.status, 1);
    EXPECT_EQ(row.err, "plumora-cli: " + path("row.bmp") + ": The picture is too small for pen-sketch.\n");
    // Writing into a missing folder names the output.
    const CliRun nowhere = run({"convert", path("good.bmp"), path("none/o.bmp")});
    EXPECT_EQ(nowhere.status, 1);
    EXPECT_NE(nowhere.err.find(path("none/o.bmp")), std::string::npos) << nowhere.err;
}

TEST_F(CliTest, BatchProcessesEveryFileAndReportsEachFailure)
{
    std::vector<TBitmap32> pictures;
    std::vector<std::string> args = {"pen-sketch", "--pressure", "90"};
    const char* const names[] = {"p0.bmp", "p1.bmp", "p2.bmp", "p3.bmp", "p4.bmp", "p5.bmp"};
    for (int i = 0; i < 6; ++i) {
        pictures.push_back(writePicture(names[i], 20 + i, 10 + i, unsigned(i)));
        args.push_back(path(names[i]));
    }
    std::ofstream(path("bad.bmp")) << "garbage";
    args.push_back(path("bad.bmp"));
    args.push_back(path("missing.jpg"));
    args.insert(args.end(), {"--output-dir", path("out"), "--format", "png"});
    const CliRun r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    EXPECT_NE(r.err.find(path("bad.bmp")), std::string::npos);
    EXPECT_NE(r.err.find(path("missing.jpg")), std::string::npos);
    for (const char* name : names)
        EXPECT_TRUE(fs::exists(m_dir / "out" / fs::path(name).replace_extension(".png"))) << name;

    // All good: status 0, outputs keep their names and formats.
    args = {"pen-sketch", path("p0.bmp"), path("p1.bmp"), "--output-dir", path("out2")};
    ASSERT_EQ(run(args).status, 0);
    EXPECT_EQ(openPicture(path("out2/p1.bmp")), penSketch(pictures[1], 128));

    // Two inputs that would land on the same output name are refused.
    fs::create_directories(path("sub"));
    writePicture("sub/p0.bmp", 3, 3, 9);
    EXPECT_EQ(run({"convert", path("p0.bmp"), path("sub/p0.bmp"), "--output-dir", path("out3")}).status, 2);
}

// A batch cut short is run again with --skip-existing: what is there stays
// as it is, byte for byte, and only the missing outputs are made.
TEST_F(CliTest, SkipExistingDoesOnlyWhatIsMissing)
{
    const TBitmap32 p0 = writePicture("p0.bmp", 12, 9, 1);
    const TBitmap32 p1 = writePicture("p1.bmp", 13, 8, 2);
    fs::create_directories(path("out"));
    std::ofstream(path("out/p0.bmp"), std::ios::binary) << "there already";
    std::ofstream(path("out/gone.bmp"), std::ios::binary) << "its input is gone";
    const std::vector<std::string> args = {"pen-sketch",     path("p0.bmp"), path("p1.bmp"),
                                           path("gone.png"), "--output-dir", path("out"),
                                           "--format",       "bmp",          "--skip-existing"};
    const CliRun r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(slurp(path("out/p0.bmp")), "there already");
    EXPECT_EQ(slurp(path("out/gone.bmp")), "its input is gone");
    EXPECT_EQ(openPicture(path("out/p1.bmp")), penSketch(p1, 128));

    // The plan a Dask batch runs holds only the missing files too.
    const BatchPlan plan = planBatch(args);
    EXPECT_TRUE(plan.inputs.empty());
    fs::remove(path("out/p0.bmp"));
    const BatchPlan rest = planBatch(args);
    EXPECT_EQ(rest.inputs, std::vector<std::string>{path("p0.bmp")});
    EXPECT_EQ(rest.outputs, std::vector<std::string>{path("out/p0.bmp")});

    // Without it every file is made again; it has no meaning for one file.
    std::ofstream(path("out/p0.bmp"), std::ios::binary) << "there already";
    EXPECT_EQ(run({"pen-sketch", path("p0.bmp"), "--output-dir", path("out"), "--format", "bmp"}).status, 0);
    EXPECT_EQ(openPicture(path("out/p0.bmp")), penSketch(p0, 128));
    const CliRun single = run({"pen-sketch", "--skip-existing", path("p0.bmp"), path("one.bmp")});
    EXPECT_EQ(single.status, 2);
    EXPECT_NE(single.err.find("--skip-existing goes with --output-dir"), std::string::npos) << single.err;
}

// Names that are not UTF-8 are names like any other: read, written and told
// apart by their bytes, never by the U+FFFD that decoding them gives.
TEST_F(CliTest, NamesThatAreNotUtf8AreUsedByteForByte)
{
    const TBitmap32 p = writePicture("x\xff.png", 6, 5, 1);
    const TBitmap32 q = writePicture("x\xfe.png", 6, 5, 2);
    writePicture("x\xef\xbf\xbd.png", 6, 5, 3);
    const CliRun one = run({"convert", path("x\xff.png"), path("o\xff.bmp")});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(openPicture(path("o\xff.bmp")), p);
    EXPECT_FALSE(fs::exists(path("o\xef\xbf\xbd.bmp")));

    // Two inputs whose names decode alike make two outputs.
    const CliRun batch =
        run({"convert", path("x\xff.png"), path("x\xfe.png"), "--output-dir", path("out\xff"), "--format", "bmp"});
    ASSERT_EQ(batch.status, 0) << batch.err;
    EXPECT_EQ(openPicture(path("out\xff/x\xff.bmp")), p);
    EXPECT_EQ(openPicture(path("out\xff/x\xfe.bmp")), q);
    EXPECT_EQ(std::distance(fs::directory_iterator(path("out\xff")), fs::directory_iterator()), 2);
}

// An output that is a file the run reads, under any of its names, is
// refused before any work unless --overwrite allows it.
TEST_F(CliTest, AnOutputNeverReplacesAnInputWithoutOverwrite)
{
    const TBitmap32 p = writePicture("a.bmp", 8, 6, 1);
    const std::string original = slurp(path("a.bmp"));
    fs::create_hard_link(path("a.bmp"), path("hard.bmp"));
    fs::create_symlink("a.bmp", path("soft.bmp"));
    for (const std::string& output :
         {path("a.bmp"), (m_dir / "." / "a.bmp").string(), path("hard.bmp"), path("soft.bmp")}) {
        const CliRun r = run({"pen-sketch", path("a.bmp"), output});
        EXPECT_EQ(r.status, 2) << output;
        EXPECT_EQ(r.err, "plumora-cli: " + output + " would write over the input " + path("a.bmp") +
                             " (--overwrite allows it)\n");
    }
    savePicture(builtInTexture(3), path("tile.bmp"));
    EXPECT_EQ(run({"texture", "--tile-file", path("tile.bmp"), path("a.bmp"), path("tile.bmp")}).status, 2);
    // A batch whose folder holds its inputs under their output names.
    fs::create_directories(path("in"));
    writePicture("in/b.bmp", 4, 4, 2);
    const CliRun batch = run({"convert", path("a.bmp"), path("in/b.bmp"), "--output-dir", path("in")});
    EXPECT_EQ(batch.status, 2);
    EXPECT_NE(batch.err.find("would write over the input " + path("in/b.bmp")), std::string::npos) << batch.err;
    EXPECT_FALSE(fs::exists(path("in/a.bmp")));  // nothing written, not even the other file
    EXPECT_EQ(slurp(path("a.bmp")), original);

    // Asked for, the input is replaced whole; a link stays a link.
    const CliRun allowed = run({"pen-sketch", "--overwrite", path("a.bmp"), path("soft.bmp")});
    ASSERT_EQ(allowed.status, 0) << allowed.err;
    EXPECT_TRUE(fs::is_symlink(path("soft.bmp")));
    EXPECT_EQ(openPicture(path("a.bmp")), penSketch(p, 128));
    EXPECT_EQ(run({"convert", "--overwrite", path("in/b.bmp"), "--output-dir", path("in")}).status, 0);

    EXPECT_NE(run({"--help"}).out.find("--overwrite is given"), std::string::npos);
    EXPECT_NE(run({"--list", "--man"}).out.find("[\\fB\\-\\-overwrite\\fR]"), std::string::npos);
}

// A batch finds an output it cannot write before any work, as single mode does.
TEST_F(CliTest, ABatchRefusesAnOutputItCannotWriteBeforeAnyWork)
{
    writePicture("a.bmp", 5, 5, 1);
    std::ofstream(path("b.gif")) << "GIF89a";
    const CliRun r = run({"pen-sketch", path("a.bmp"), path("b.gif"), "--output-dir", path("out")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "plumora-cli: " + path("out/b.gif") +
                         ": the output must end in .jpg, .jpeg, .png, .webp, .tif, .tiff, .bmp or .wmf (--format "
                         "gives it one)\n");
    EXPECT_FALSE(fs::exists(path("out")));
}

std::vector<std::uint8_t> bytesOf(const std::string& name)
{
    return readWholeFile(name);
}

TEST_F(CliTest, QualityAndLosslessReachTheWritersThatTakeThem)
{
    const TBitmap32 p = writePicture("in.bmp", 30, 20, 21);
    SaveOptions forty;
    forty.quality = 40;
    ASSERT_EQ(run({"convert", "--quality", "40", path("in.bmp"), path("q.jpg")}).status, 0);
    EXPECT_EQ(bytesOf(path("q.jpg")), encodePicture(p, SaveFormat::Jpeg, forty));
    ASSERT_EQ(run({"convert", path("in.bmp"), "--quality", "40", path("q.webp")}).status, 0);
    EXPECT_EQ(bytesOf(path("q.webp")), encodePicture(p, SaveFormat::Webp, forty));
    // Without --quality: 90, as the program has always saved JPEG.
    ASSERT_EQ(run({"convert", path("in.bmp"), path("d.jpg")}).status, 0);
    EXPECT_EQ(bytesOf(path("d.jpg")), encodePicture(p, SaveFormat::Jpeg));
    ASSERT_EQ(run({"convert", "--lossless", path("in.bmp"), path("l.webp")}).status, 0);
    EXPECT_EQ(readAnyPicture(path("l.webp")), p);
    ASSERT_EQ(run({"convert", path("in.bmp"), path("t.tiff")}).status, 0);
    EXPECT_EQ(readAnyPicture(path("t.tiff")), p);
}

TEST_F(CliTest, ABatchWritesTheFormatAndQualityAsked)
{
    const TBitmap32 a = writePicture("a.bmp", 20, 20, 22), b = writePicture("b.png", 12, 9, 23);
    const CliRun r = run({"pen-sketch", path("a.bmp"), path("b.png"), "--output-dir", path("out"), "--format", "webp",
                          "--quality", "30"});
    ASSERT_EQ(r.status, 0) << r.err;
    SaveOptions thirty;
    thirty.quality = 30;
    EXPECT_EQ(bytesOf(path("out/a.webp")), encodePicture(penSketch(a, kPenPressureDefault), SaveFormat::Webp, thirty));
    EXPECT_EQ(bytesOf(path("out/b.webp")), encodePicture(penSketch(b, kPenPressureDefault), SaveFormat::Webp, thirty));
    ASSERT_EQ(run({"convert", path("a.bmp"), "--output-dir", path("tif"), "--format", "tif"}).status, 0);
    EXPECT_EQ(readAnyPicture(path("tif/a.tif")), a);
}

// The camera's photograph: a Display P3 profile and Exif data with the
// orientation 6, a thumbnail and a location.
std::string cameraPhoto()
{
    return (std::filesystem::path(PLUMORA_PHOTOS) / "camera.jpg").string();
}

TEST_F(CliTest, OutputsKeepTheInputsProfileAndCameraDataUprightWithoutLocationOrThumbnail)
{
    const PictureMetadata input = readPictureMetadata(cameraPhoto());
    ASSERT_FALSE(input.icc.empty());
    for (const char* output : {"c.jpg", "c.png", "c.webp", "c.tif"}) {
        const CliRun r = run({"convert", cameraPhoto(), path(output)});
        ASSERT_EQ(r.status, 0) << r.err;
        const PictureMetadata written = readPictureMetadata(path(output));
        EXPECT_EQ(written.icc, input.icc) << output;
        const std::optional<ExifData> exif = parseExif(written.exif.data(), written.exif.size());
        ASSERT_TRUE(exif) << output;
        EXPECT_EQ(exifNumber(exif->main, 0x0112), 1u) << output;
        EXPECT_TRUE(exif->location.empty()) << output;
    }
    // Through an effect, and in a batch, the same; the picture was turned
    // upright on reading (45 x 67 from a 67 x 45 JPEG saying 6).
    ASSERT_EQ(run({"pen-sketch", cameraPhoto(), "--output-dir", path("out"), "--format", "jpg"}).status, 0);
    const PictureMetadata sketch = readPictureMetadata(path("out/camera.jpg"));
    EXPECT_EQ(sketch.icc, input.icc);
    EXPECT_EQ(sketch.exif, exifForWriting(input.exif, false, 45, 67));
    EXPECT_EQ(readAnyPicture(path("out/camera.jpg")).width(), 45);
}

TEST_F(CliTest, KeepLocationKeepsTheGpsDataAndStripLeavesEverythingOut)
{
    ASSERT_EQ(run({"convert", "--keep-location", cameraPhoto(), path("k.jpg")}).status, 0);
    const PictureMetadata kept = readPictureMetadata(path("k.jpg"));
    const std::optional<ExifData> exif = parseExif(kept.exif.data(), kept.exif.size());
    ASSERT_TRUE(exif);
    EXPECT_EQ(exif->location.size(), 4u);
    ASSERT_EQ(run({"pen-sketch", "--strip", cameraPhoto(), path("s.png")}).status, 0);
    EXPECT_TRUE(readPictureMetadata(path("s.png")).empty());
    // Stripped, the file is the one a picture without metadata gives.
    ASSERT_EQ(run({"convert", "--strip", cameraPhoto(), path("s.jpg")}).status, 0);
    EXPECT_EQ(bytesOf(path("s.jpg")), encodePicture(readAnyPicture(cameraPhoto()), SaveFormat::Jpeg));
    for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"convert", "--strip", "--keep-location", cameraPhoto(), path("x.jpg")},
              "--strip and --keep-location do not go together: --strip leaves the location out too"},
             {{"convert", "--keep-location", cameraPhoto(), path("x.bmp")},
              path("x.bmp") + ": --keep-location goes with outputs that hold camera data (JPEG, PNG, WebP and TIFF), "
                              "and this is BMP"}}) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "plumora-cli: " + message + "\n");
        EXPECT_FALSE(std::filesystem::exists(path("x.jpg")) || std::filesystem::exists(path("x.bmp")));
    }
}

TEST_F(CliTest, QualityOrLosslessThatAnOutputWouldNotUseIsRefusedBeforeAnyWork)
{
    writePicture("in.bmp", 5, 5, 24);
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"convert", "--quality", "50", path("in.bmp"), path("o.png")},
         path("o.png") + ": --quality goes with JPEG and WebP outputs, and this is PNG"},
        {{"convert", "--quality", "0", path("in.bmp"), path("o.jpg")},
         "--quality takes a whole number from 1 to 100, not '0'"},
        {{"convert", "--quality", "101", path("in.bmp"), path("o.jpg")},
         "--quality takes a whole number from 1 to 100, not '101'"},
        {{"convert", "--quality", "8x", path("in.bmp"), path("o.jpg")},
         "--quality takes a whole number from 1 to 100, not '8x'"},
        {{"convert", "--lossless", path("in.bmp"), path("o.jpg")},
         path("o.jpg") + ": --lossless goes with WebP outputs, and this is JPEG"},
        {{"convert", "--lossless", "--quality", "80", path("in.bmp"), path("o.webp")},
         "--quality and --lossless do not go together: a lossless WebP has no quality"},
        {{"convert", path("in.bmp"), "--output-dir", path("out"), "--format", "tiff", "--quality", "70"},
         path("out/in.tiff") + ": --quality goes with JPEG and WebP outputs, and this is TIFF"},
        {{"convert", path("in.bmp"), "--output-dir", path("out"), "--format", "gif"},
         "--format takes jpg, jpeg, png, webp, tif, tiff, bmp or wmf, not 'gif'"},
    };
    for (const auto& [args, message] : refused) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_EQ(r.err, "plumora-cli: " + message + "\n");
    }
    EXPECT_FALSE(fs::exists(path("o.png")) || fs::exists(path("o.jpg")) || fs::exists(path("o.webp")) ||
                 fs::exists(path("out")));
}

TEST_F(CliTest, ReadsPhonePhotographsByTheirContent)
{
    const std::string heic = std::string(PLUMORA_PHOTOS) + "/photo.heic";
    fs::copy_file(heic, path("phone.jpg"));  // as phones and web sites hand them out
    ASSERT_EQ(run({"convert", path("phone.jpg"), path("out.png")}).status, 0);
    EXPECT_EQ(readAnyPicture(path("out.png")), readAnyPicture(heic));
    const CliRun r = run({"pen-sketch", std::string(PLUMORA_PHOTOS) + "/photo.jxl", path("sketch.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readAnyPicture(path("sketch.png")),
              penSketch(readAnyPicture(std::string(PLUMORA_PHOTOS) + "/photo.jxl"), kPenPressureDefault));
}

// A system that refuses new threads (a limit on processes, no memory for a
// stack) makes a batch share its files among the threads it has, down to
// the calling thread alone, not abort.
TEST_F(CliTest, ABatchGoesOnWithTheThreadsItCanStart)
{
    const char* const names[] = {"t0.bmp", "t1.bmp", "t2.bmp", "t3.bmp", "t4.bmp", "t5.bmp"};
    std::vector<TBitmap32> pictures;
    std::vector<std::string> args = {"convert"};
    for (int i = 0; i < 6; ++i) {
        pictures.push_back(writePicture(names[i], 5 + i, 4, unsigned(i)));
        args.push_back(path(names[i]));
    }
    args.insert(args.end(), {"--output-dir", path("out")});
    setThreadCount(4);
    for (int allowed : {0, 1}) {
        int started = 0;
        setBatchWorkerStarter([&](std::function<void()> work) {
            if (started == allowed)
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            ++started;
            return std::thread(std::move(work));
        });
        fs::remove_all(path("out"));
        EXPECT_EQ(runCli(args), kExitOk) << allowed;
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(openPicture((m_dir / "out" / names[i]).string()), pictures[std::size_t(i)]) << allowed;
    }
    setBatchWorkerStarter({});
    setThreadCount(0);
}

// A worker killed while it wrote leaves its temporary file in the output
// folder; the next run there, plumora-cli's or the Python batch's planning,
// clears it and nothing else.
TEST_F(CliTest, ARunClearsTheTemporariesAKilledWorkerLeft)
{
    writePicture("in.bmp", 5, 4, 1);
    fs::create_directories(path("out"));
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    const auto leave = [&](const std::string& name) {
        std::ofstream(path(name)) << "half a picture";
        fs::last_write_time(path(name), old);
    };
    leave("out/.plumora-00112233445566ff.tmp");
    leave("out/notes.tmp");
    ASSERT_EQ(run({"convert", path("in.bmp"), "--output-dir", path("out")}).status, 0);
    EXPECT_FALSE(fs::exists(path("out/.plumora-00112233445566ff.tmp")));
    EXPECT_TRUE(fs::exists(path("out/notes.tmp")));

    leave("out/.plumora-00112233445566ee.tmp");
    planBatch({"convert", path("in.bmp"), "--output-dir", path("out"), "--overwrite"});
    EXPECT_FALSE(fs::exists(path("out/.plumora-00112233445566ee.tmp")));

    // One file written: its folder too.
    leave(".plumora-00112233445566dd.tmp");
    ASSERT_EQ(run({"convert", path("in.bmp"), path("single.bmp")}).status, 0);
    EXPECT_FALSE(fs::exists(path(".plumora-00112233445566dd.tmp")));
    EXPECT_TRUE(fs::exists(path("out/notes.tmp")));
}

// An SVG that draws a local picture into itself would copy that picture
// into the output: plumora-cli refuses SVG drawings and writes nothing.
TEST_F(CliTest, AnSvgDrawingIsRefusedAndNothingIsWritten)
{
    writePicture("private.bmp", 4, 4, 2);
    std::ofstream(path("drawing.svg"))
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"4\" "
           "height=\"4\"><image width=\"4\" height=\"4\" xlink:href=\""
        << path("private.bmp") << "\"/></svg>\n";
    const CliRun r = run({"convert", path("drawing.svg"), path("out.png")});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_EQ(r.err, "plumora-cli: " + path("drawing.svg") + ": " + kSvgRefusedMessage + "\n");
    EXPECT_FALSE(fs::exists(path("out.png")));
}

// A picture one pixel high or wide: an effect that cannot take it says so by
// the effect's name in plumora-cli and Python (which run effects with
// fileEffectContext), and keeps the desktop program's row error elsewhere.
TEST_F(CliTest, APictureTooSmallForAnEffectIsNamedAsSuch)
{
    std::vector<std::string> refusing;
    for (const EffectDeclaration& effect : effectTable()) {
        const ParamValues values = effect.defaults();
        for (const auto& [w, h] : {std::pair(1, 1), std::pair(9, 1), std::pair(1, 9)}) {
            TBitmap32 picture = test::randomPicture(w, h, 3);
            FillAlpha(picture, 255);
            EffectContext file = fileEffectContext();
            try {
                effect.apply(picture, values, file);
                continue;
            } catch (const PlumoraError& e) {
                const std::string message = e.what();
                EXPECT_NE(message, "Scan line index out of range") << effect.name << " " << w << "x" << h;
                if (message != "The picture is too small for " + effect.name + ".")
                    continue;  // a message of the effect's own
            }
            refusing.push_back(effect.name + " " + std::to_string(w) + "x" + std::to_string(h));
            EffectContext desktop;
            desktop.builtInTile = builtInTexture;
            EXPECT_THROW(effect.apply(picture, values, desktop), ScanLineError) << effect.name;
        }
    }
    // The six whose neighbourhoods reach the next row; a column is enough.
    EXPECT_EQ(refusing,
              (std::vector<std::string>{"pencil-sketch 1x1", "pencil-sketch 9x1", "pen-sketch 1x1", "pen-sketch 9x1",
                                        "dozadir 1x1", "dozadir 9x1", "color-pencil 1x1", "color-pencil 9x1",
                                        "pop-art 1x1", "pop-art 9x1", "abstract 1x1", "abstract 9x1"}));

    writePicture("row.bmp", 12, 1, 4);
    const CliRun r = run({"pen-sketch", path("row.bmp"), path("out.bmp")});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_EQ(r.err, "plumora-cli: " + path("row.bmp") + ": The picture is too small for pen-sketch.\n");
    EXPECT_FALSE(fs::exists(path("out.bmp")));
}

TEST_F(CliTest, BuiltInDemoPictureTurnsIntoAPenSketch)
{
    const CliRun r = run({"pen-sketch", PLUMORA_DEMO_PICTURE, path("demo.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    const TBitmap32 demo = openPicture(PLUMORA_DEMO_PICTURE);
    EXPECT_EQ(demo.width(), 521);
    EXPECT_EQ(demo.height(), 346);
}

// ---------------------------------------------------------------------------
// Recipes.

const char* const kLook = R"({"plumora-recipe": 1, "steps": [{"turn": "clockwise"}, {"resize": {"scale": 1.5}},
    {"effect": "brume", "scope": 3}, {"effect": "color-variety", "steps": ["red", "cyan"], "for-current": true}]})";

// What a recipe makes of a picture as a file of a batch: from the state the
// program starts with.
TBitmap32 recipeResult(const std::string& json, const TBitmap32& picture)
{
    EffectContext context = fileEffectContext();
    return applyRecipe(parseRecipe(json), picture, context);
}

TEST_F(CliTest, ARecipeGivesEveryFileItsStepsFromTheProgramsFirstState)
{
    std::ofstream(path("look.plumora-recipe")) << kLook;
    const TBitmap32 a = writePicture("a.bmp", 21, 13, 1);
    const TBitmap32 b = writePicture("b.bmp", 9, 17, 2);
    const CliRun one = run({"recipe", path("look.plumora-recipe"), path("a.bmp"), path("alone.bmp")});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.err, "");
    const TBitmap32 expected = recipeResult(kLook, a);
    EXPECT_EQ(expected.width(), 20);  // turned, then half as large again
    EXPECT_EQ(openPicture(path("alone.bmp")), expected);

    const CliRun batch = run({"recipe", path("look.plumora-recipe"), path("a.bmp"), path("b.bmp"), "--output-dir",
                              path("out"), "--format", "png"});
    ASSERT_EQ(batch.status, 0) << batch.err;
    EXPECT_EQ(readAnyPicture(path("out/a.png")), expected);
    EXPECT_EQ(readAnyPicture(path("out/b.png")), recipeResult(kLook, b));  // brume afresh, not run on

    // The recipe's text on the command line gives the same bytes.
    ASSERT_EQ(
        run({"recipe", "--json", kLook, path("a.bmp"), path("b.bmp"), "--output-dir", path("json"), "--format", "png"})
            .status,
        0);
    EXPECT_EQ(slurp(path("json/a.png")), slurp(path("out/a.png")));
    EXPECT_EQ(slurp(path("json/b.png")), slurp(path("out/b.png")));
}

TEST_F(CliTest, RecipePrintShowsTheSteps)
{
    std::ofstream(path("look.plumora-recipe")) << kLook;
    const CliRun r = run({"recipe", path("look.plumora-recipe"), "--print"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, describeRecipe(parseRecipe(kLook)));
    EXPECT_EQ(r.out.substr(0, 37), "1. turn clockwise\n2. resize by 1.5 (p");
    EXPECT_EQ(run({"recipe", "--json", kLook, "--print"}).out, r.out);
}

TEST_F(CliTest, ARecipeThatCannotBeTakenIsAUsageErrorAndWritesNothing)
{
    writePicture("in.bmp", 6, 5, 3);
    std::ofstream(path("newer.plumora-recipe")) << R"({"plumora-recipe": 2, "steps": []})";
    std::ofstream(path("typo.plumora-recipe"))
        << R"({"plumora-recipe": 1, "steps": [{"turn": "clockwise"}, {"effect": "pen-sketch", "pressur": 3}]})";
    std::ofstream(path("binary.plumora-recipe")) << "\x89PNG\r\n\x1a\n";
    fs::create_directories(path("folder.plumora-recipe"));
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"recipe", path("newer.plumora-recipe"), path("in.bmp"), path("o.bmp")},
         path("newer.plumora-recipe") + ": This recipe is version 2; this Plumora reads version 1."},
        {{"recipe", path("typo.plumora-recipe"), path("in.bmp"), "--output-dir", path("d")},
         path("typo.plumora-recipe") + ": Step 2: unknown key 'pressur' for pen-sketch."},
        {{"recipe", path("binary.plumora-recipe"), path("in.bmp"), path("o.bmp")},
         path("binary.plumora-recipe") +
             ": This recipe is not valid JSON: a byte that is not UTF-8 at line 1, column 1."},
        {{"recipe", path("missing.plumora-recipe"), path("in.bmp"), path("o.bmp")},
         path("missing.plumora-recipe") + ": no such file"},
        {{"recipe", path("folder.plumora-recipe"), path("in.bmp"), path("o.bmp")},
         path("folder.plumora-recipe") + ": is a folder, not a recipe file"},
        {{"recipe", "--json", "{\"steps\": []}", path("in.bmp"), path("o.bmp")},
         "--json: This is not a Plumora recipe: a recipe is a JSON object with the keys \"plumora-recipe\" and "
         "\"steps\"."},
        {{"recipe"}, "recipe needs a FILE.plumora-recipe (or --json TEXT) first"},
        {{"recipe", "--json", kLook, "--print", path("in.bmp")},
         "--print shows the recipe's steps: it takes no INPUT, OUTPUT or batch options"},
        {{"recipe", "--json", kLook, "--pressure", "3", path("in.bmp"), path("o.bmp")},
         "recipe has no parameter --pressure (plumora-cli recipe --help)"},
    };
    for (const auto& [args, message] : cases) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_EQ(r.err, "plumora-cli: " + message + "\n");
    }
    EXPECT_FALSE(fs::exists(path("o.bmp")));
    EXPECT_FALSE(fs::exists(path("d")));

    // An output that is the recipe file itself is an input like the others.
    std::ofstream(path("look.bmp")) << kLook;
    const CliRun over = run({"recipe", path("look.bmp"), path("in.bmp"), path("look.bmp")});
    EXPECT_EQ(over.status, 2);
    EXPECT_EQ(slurp(path("look.bmp")), kLook);
}

TEST_F(CliTest, ARecipeStepThatFailsOnAFileNamesTheFileAndTheStep)
{
    writePicture("row.bmp", 9, 2, 6);
    writePicture("good.bmp", 9, 9, 7);
    const std::string json =
        R"({"plumora-recipe": 1, "steps": [{"resize": {"scale": 0.5}}, {"effect": "pen-sketch"}]})";
    const CliRun r = run({"recipe", "--json", json, path("row.bmp"), path("good.bmp"), "--output-dir", path("out")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "plumora-cli: " + path("row.bmp") + ": Step 2 (pen-sketch): The picture is too small for pen-sketch.\n");
    EXPECT_FALSE(fs::exists(path("out/row.bmp")));
    EXPECT_TRUE(fs::exists(path("out/good.bmp")));
}

TEST_F(CliTest, HelpAndManualPageTellOfRecipes)
{
    EXPECT_NE(run({"--help"}).out.find("plumora-cli recipe FILE.plumora-recipe INPUT... --output-dir DIR"),
              std::string::npos);
    const CliRun help = run({"recipe", "--help"});
    ASSERT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("\"for-current\""), std::string::npos);
    const CliRun man = run({"--list", "--man"});
    EXPECT_NE(man.out.find(".SH RECIPES\n"), std::string::npos);
    EXPECT_NE(man.out.find(".B plumora\\-cli recipe\n"), std::string::npos);
}

}  // namespace
}  // namespace plumora
