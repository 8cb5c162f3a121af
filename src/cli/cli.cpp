#include "cli/cli.h"

#include "document/recipe.h"
#include "effects/effects.h"
#include "formats/jpeg.h"
#include "formats/picture_file.h"
#include "formats/textures.h"
#include "raster/errors.h"
#include "raster/parallel.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

namespace plumora {

namespace {

namespace fs = std::filesystem;

const char* const kProgram = "plumora-cli";

WorkerStarter g_startWorker;

// Every extension we write, from the one table of writable types, as a
// list in words: ".jpg, .jpeg, ... or .wmf" (dot: with the dots; last: "or").
std::string writableExtensions(bool dot, const char* last)
{
    std::vector<std::string> all;
    for (const WritableType& type : writableTypes())
        for (const std::string& ext : type.extensions)
            all.push_back(dot ? ext : ext.substr(1));
    std::string list;
    for (std::size_t i = 0; i < all.size(); ++i)
        list += (i == 0 ? "" : i + 1 == all.size() ? std::string(" ") + last + " " : ", ") + all[i];
    return list;
}

// The names of the types that take a quality ("JPEG and WebP").
std::string typesTakingQuality()
{
    std::vector<std::string> names;
    for (const WritableType& type : writableTypes())
        if (type.takesQuality)
            names.emplace_back(type.name);
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i)
        list += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return list;
}

void printUsage(std::ostream& out)
{
    out << "Usage:\n"
           "  plumora-cli EFFECT [--PARAM VALUE | --FLAG]... INPUT OUTPUT\n"
           "  plumora-cli EFFECT [--PARAM VALUE | --FLAG]... INPUT... --output-dir DIR [--format EXT]\n"
           "                                                          [--skip-existing]\n"
           "  plumora-cli convert INPUT OUTPUT\n"
           "  plumora-cli recipe FILE.plumora-recipe INPUT OUTPUT\n"
           "  plumora-cli recipe FILE.plumora-recipe INPUT... --output-dir DIR [--format EXT] [--skip-existing]\n"
           "  plumora-cli recipe FILE.plumora-recipe --print   the recipe's steps\n"
           "  (any of them with --quality N for a JPEG or WebP output, or --lossless for a WebP one,\n"
           "  and --strip or --keep-location)\n"
           "  plumora-cli --list            every effect with its parameters\n"
           "  plumora-cli --list --markdown the same as a Markdown table\n"
           "  plumora-cli --list --man      the same as a manual page\n"
           "  plumora-cli EFFECT --help     one effect's parameters\n"
           "  plumora-cli recipe --help     what a recipe is\n"
           "\n"
           "Reads .bmp, .jpg, .jpeg, .gif, .ico, .wmf, .emf, .heic, .avif, .jxl, .webp, .png, .tif and the\n"
           "other formats Qt's image plugins read; writes .jpg/.jpeg, .png, .webp, .tif/.tiff (deflate),\n"
           ".bmp (24-bit) and .wmf, chosen by the OUTPUT's extension (in a batch, --format EXT).\n"
           "--quality N (1 to 100, 90 unless given) sets the quality of JPEG and WebP outputs;\n"
           "--lossless writes a WebP without loss.\n"
           "A JPEG, PNG, WebP or TIFF output keeps its INPUT's colour profile and camera data (Exif), the\n"
           "orientation set upright and the thumbnail left out; the location (GPS) is left out unless\n"
           "--keep-location is given. --strip leaves all of it out.\n"
           "In a batch every INPUT is written into DIR under its own name (with --format, under the new\n"
           "extension), several files at a time. With --skip-existing an INPUT whose output is already\n"
           "there is left out, so a batch cut short can be run again to do only the rest.\n"
           "An OUTPUT that is a file the run reads (an INPUT or a parameter's FILE, under any of its names)\n"
           "is refused unless --overwrite is given.\n";
}

void printRecipeHelp(std::ostream& out)
{
    out << "Usage:\n"
           "  plumora-cli recipe FILE.plumora-recipe INPUT OUTPUT\n"
           "  plumora-cli recipe FILE.plumora-recipe INPUT... --output-dir DIR [--format EXT] [--skip-existing]\n"
           "  plumora-cli recipe FILE.plumora-recipe --print\n"
           "  plumora-cli recipe --json TEXT ...   the recipe given as its text instead of a file\n"
           "  (--quality N and --lossless as for an effect: plumora-cli --help)\n"
           "\n"
           "A recipe holds the operations that made a picture in the desktop program (File > Save Recipe...):\n"
           "quarter turns, new sizes and an effect with all its values. Every INPUT gets them in order,\n"
           "each file from the state the program starts with, and becomes exactly the picture the window\n"
           "showed for it. --print lists the steps. The file is JSON, for example:\n"
           "  {\"plumora-recipe\": 1, \"steps\": [{\"turn\": \"clockwise\"},\n"
           "   {\"resize\": {\"width\": 1600, \"height\": 1200}},\n"
           "   {\"effect\": \"dozadir\", \"pressure\": 120, \"scope\": 4, \"direction\": \"vertical\"}]}\n"
           "A resize may be {\"resize\": {\"scale\": F}} (the new width over the old; the height keeps the\n"
           "proportions). An effect's keys are its options without the dashes (plumora-cli --list): a number,\n"
           "a word or its place, a list for a grid or steps, true or false for a flag, \"RRGGBB\" for a\n"
           "colour; a missing one takes its default. color-filter and color-variety take \"for-current\":\n"
           "true to work on the picture as the steps before left it instead of the source picture.\n"
           "A recipe that cannot be taken is refused, naming the step and the key, before any file is written.\n";
}

void printEffect(std::ostream& out, const EffectDeclaration& effect)
{
    out << effect.name << "  " << effect.summary << "\n";
    for (const ParamDeclaration& p : effect.params) {
        const std::string placeholder = valuePlaceholder(p);
        const std::string option = "--" + p.key + (placeholder.empty() ? "" : " " + placeholder);
        out << "    " << option << std::string(option.size() < 18 ? 18 - option.size() : 1, ' ') << p.listedCaption()
            << ": " << describeParam(effect, p) << "\n";
    }
}

// Text as roff prints it: backslashes and hyphens escaped, and a line
// that would start with a control character guarded.
std::string roff(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\''))
        out.insert(0, "\\&");
    return out;
}

// The manual page, from the same table as --list: it cannot fall behind the
// effects the tool has.
void printManPage(std::ostream& out)
{
    out << ".TH PLUMORA-CLI 1 \"\" \"Plumora " PLUMORA_VERSION "\" \"User Commands\"\n"
        << ".SH NAME\nplumora\\-cli \\- turn photographs into drawings and paintings, file by file\n"
        << ".SH SYNOPSIS\n"
        << ".B plumora\\-cli\n.I EFFECT\n[\\fB\\-\\-PARAM\\fR \\fIVALUE\\fR | \\fB\\-\\-FLAG\\fR]...\n"
        << "[\\fB\\-\\-overwrite\\fR]\n.I INPUT OUTPUT\n.br\n"
        << ".B plumora\\-cli\n.I EFFECT\n[\\fB\\-\\-PARAM\\fR \\fIVALUE\\fR | \\fB\\-\\-FLAG\\fR]...\n.I INPUT...\n"
        << "\\fB\\-\\-output\\-dir\\fR \\fIDIR\\fR [\\fB\\-\\-format\\fR \\fIEXT\\fR] "
           "[\\fB\\-\\-skip\\-existing\\fR] [\\fB\\-\\-overwrite\\fR]\n.br\n"
        << ".B plumora\\-cli convert\n[\\fB\\-\\-overwrite\\fR]\n.I INPUT OUTPUT\n.br\n"
        << ".B plumora\\-cli recipe\n.I FILE\n[\\fB\\-\\-overwrite\\fR]\n.I INPUT OUTPUT\n.br\n"
        << ".B plumora\\-cli recipe\n.I FILE INPUT...\n"
        << "\\fB\\-\\-output\\-dir\\fR \\fIDIR\\fR [\\fB\\-\\-format\\fR \\fIEXT\\fR] "
           "[\\fB\\-\\-skip\\-existing\\fR] [\\fB\\-\\-overwrite\\fR]\n.br\n"
        << ".B plumora\\-cli recipe\n.I FILE\n\\fB\\-\\-print\\fR\n.br\n"
        << ".B plumora\\-cli \\-\\-list\n[\\fB\\-\\-markdown\\fR | \\fB\\-\\-man\\fR]\n"
        << ".SH DESCRIPTION\n"
        << "Applies one of the effects of the Plumora desktop program to picture files, with the same "
           "parameters and exactly the same results.\n"
        << "It reads .bmp, .jpg, .jpeg, .gif, .ico, .wmf, .emf, .heic, .avif, .jxl, .webp, .png, .tif and the "
           "other formats Qt's image plugins read (HEIC, AVIF and JPEG XL known by their content, whatever their "
           "name), and writes "
        << roff(writableExtensions(true, "and"))
        << ", chosen by the output's extension (in a batch, \\fB\\-\\-format\\fR \\fIEXT\\fR).\n.PP\n"
        << "\\fB\\-\\-quality\\fR \\fIN\\fR (1 to 100, 90 unless given) sets the quality of " << typesTakingQuality()
        << " outputs; \\fB\\-\\-lossless\\fR writes a WebP without loss. TIFF is written "
           "with deflate, PNG at compression level 6.\n.PP\n"
           "A JPEG, PNG, WebP or TIFF output keeps the colour profile (ICC) and the camera data (Exif) of its "
           "input: the effects work on the picture's values as they are, and the profile still says what they "
           "mean. The Exif data is written with the orientation 1 (the picture is upright already), the "
           "picture's own size and without the thumbnail; the location (GPS) is left out unless "
           "\\fB\\-\\-keep\\-location\\fR is given. \\fB\\-\\-strip\\fR leaves the profile and the camera data "
           "out altogether.\n.PP\n"
        << "With \\fB\\-\\-output\\-dir\\fR every INPUT is written into DIR under its own name (with "
           "\\fB\\-\\-format\\fR, under the new extension), several files at a time.\n"
           "A file that cannot be read, processed or written is reported on a line of its own and the others go "
           "on.\n"
           "With \\fB\\-\\-skip\\-existing\\fR an INPUT whose output is already there is left out, so a "
           "batch cut short can be run again to do only the rest (outputs appear whole or not at all).\n.PP\n"
           "An output that is a file the run reads (an INPUT or a parameter's FILE, under any of its names: "
           "the same path written another way, a hard link, a symbolic link) is refused before any work unless "
           "\\fB\\-\\-overwrite\\fR is given.\n"
        << ".SH RECIPES\n"
        << "A recipe file (\\fI.plumora\\-recipe\\fR, saved by the desktop program's File > Save Recipe...) holds "
           "the operations that made a picture: quarter turns, new sizes and an effect with all its values. "
           "\\fBplumora\\-cli recipe\\fR \\fIFILE\\fR gives them, in order, to every INPUT, each from the state "
           "the program starts with, with the same results as the window; \\fB\\-\\-print\\fR lists the steps, "
           "and \\fB\\-\\-json\\fR \\fITEXT\\fR takes the recipe's text in place of \\fIFILE\\fR.\n.PP\n"
           "The file is JSON: \\fB{\"plumora\\-recipe\": 1, \"steps\": [{\"turn\": \"clockwise\"}, "
           "{\"resize\": {\"width\": 1600, \"height\": 1200}}, {\"effect\": \"dozadir\", \"pressure\": 120}]}\\fR. "
           "A turn is \"clockwise\" or \"anticlockwise\"; a resize gives \"width\" and \"height\", or \"scale\" (the "
           "new "
           "width over the old, the height keeping the proportions); an effect's other keys are its options below "
           "without the dashes: a number, a word or its place, a list for a grid or steps, true or false for a flag, "
           "\"RRGGBB\" for a colour, and a missing one takes its default. \\fBcolor\\-filter\\fR and "
           "\\fBcolor\\-variety\\fR take \"for\\-current\": true to work on the picture as the steps before left it "
           "rather than on the source picture. A recipe that cannot be taken is refused, naming the step and the key, "
           "before any file is written.\n"
        << ".SH EFFECTS\n"
        << ".TP\n.B convert\nOpen and save without an effect.\n";
    for (const EffectDeclaration& effect : effectTable()) {
        out << ".TP\n.B " << roff(effect.name) << "\n" << roff(effect.summary) << "\n";
        for (const ParamDeclaration& p : effect.params) {
            const std::string placeholder = valuePlaceholder(p);
            out << ".RS\n.TP\n\\fB\\-\\-" << roff(p.key) << "\\fR"
                << (placeholder.empty() ? "" : " \\fI" + roff(placeholder) + "\\fR") << "\n"
                << roff(p.listedCaption() + ": " + describeParam(effect, p)) << "\n.RE\n";
        }
    }
    out << ".SH EXIT STATUS\n"
        << ".TP\n0\nEvery file was written.\n"
        << ".TP\n1\nA file could not be read, processed or written.\n"
        << ".TP\n2\nThe command line is wrong, or its recipe cannot be taken.\n"
        << ".SH EXAMPLES\n"
        << ".nf\nplumora\\-cli pen\\-sketch \\-\\-pressure 150 photo.jpg sketch.png\n"
        << "plumora\\-cli dozadir \\-\\-direction vertical *.jpg \\-\\-output\\-dir drawings "
           "\\-\\-format png\n"
        << "plumora\\-cli recipe look.plumora\\-recipe *.jpg \\-\\-output\\-dir drawings\n.fi\n";
}

void printList(std::ostream& out)
{
    out << "convert  open and save without an effect\n";
    for (const EffectDeclaration& effect : effectTable())
        printEffect(out, effect);
}

// One run of the tool, as the command line describes it.
struct Request {
    const EffectDeclaration* effect = nullptr;  // nullptr: convert
    ParamValues values;
    std::vector<std::string> inputs;
    std::string output;     // single mode
    std::string outputDir;  // batch mode
    std::optional<SaveFormat> batchFormat;
    std::string batchExtension;
    bool overwrite = false;     // an output may replace a file the run reads
    bool skipExisting = false;  // a batch leaves out inputs already written
    SaveOptions save;           // --quality, --lossless, --keep-location
    bool qualityGiven = false;
    bool strip = false;                                      // --strip: no profile or camera data in the outputs
    std::vector<std::pair<std::string, std::string>> given;  // the effect's options as given
    std::optional<Recipe> recipe;                            // "recipe"
    std::string recipeFile;                                  // where it was read, if from a file
    bool print = false;                                      // "recipe --print": show the steps
};

// The recipe a "recipe" command line names: a file, or --json's text.
Recipe recipeFor(const std::optional<std::string>& json, const std::string& file)
{
    try {
        if (json)
            return parseRecipe(*json);
        return readRecipeFile(file);
    } catch (const RecipeError& e) {
        throw UsageError(json ? "--json: " + std::string(e.what()) : e.what());
    } catch (const FileReadError& e) {
        throw UsageError(e.what());
    }
}

// --quality and --lossless are refused, before any work, for an output
// that would not use them: a setting silently ignored looks like one kept.
void checkSaveOptions(const Request& request, const std::string& output)
{
    const std::optional<SaveFormat> format = request.batchFormat ? request.batchFormat : saveFormatFor(output);
    if (!format)
        return;
    if (request.save.lossless && request.qualityGiven)
        throw UsageError("--quality and --lossless do not go together: a lossless WebP has no quality");
    if (request.qualityGiven && !writableType(*format).takesQuality)
        throw UsageError(output + ": --quality goes with " + typesTakingQuality() + " outputs, and this is " +
                         writableType(*format).name);
    if (request.save.lossless && *format != SaveFormat::Webp)
        throw UsageError(output + ": --lossless goes with WebP outputs, and this is " + writableType(*format).name);
    if (request.save.keepLocation && (*format == SaveFormat::Bmp || *format == SaveFormat::Wmf))
        throw UsageError(output +
                         ": --keep-location goes with outputs that hold camera data (JPEG, PNG, WebP and "
                         "TIFF), and this is " +
                         writableType(*format).name);
}

Request parseRequest(const std::vector<std::string>& args)
{
    Request request;
    const std::string& command = args.front();
    const bool isRecipe = command == "recipe";
    std::optional<std::string> recipeText;
    if (command != "convert" && !isRecipe) {
        request.effect = findEffect(command);
        if (!request.effect)
            throw UsageError("unknown effect '" + command + "' (plumora-cli --list shows them all)");
    }
    const std::string effectName = request.effect ? request.effect->name : command;

    std::vector<std::pair<std::string, std::string>>& given = request.given;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            if (arg == "--")
                optionsEnded = true;
            else
                positional.push_back(arg);
            continue;
        }
        const std::string name = arg.substr(2);
        auto needValue = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw UsageError(arg + " needs a value");
            return args[++i];
        };
        if (name == "output-dir") {
            request.outputDir = needValue();
            continue;
        }
        if (name == "overwrite") {
            request.overwrite = true;
            continue;
        }
        if (name == "skip-existing") {
            request.skipExisting = true;
            continue;
        }
        if (isRecipe && name == "json") {
            recipeText = needValue();
            continue;
        }
        if (isRecipe && name == "print") {
            request.print = true;
            continue;
        }
        if (name == "quality") {
            const std::string& text = needValue();
            int quality = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), quality);
            if (error != std::errc() || end != text.data() + text.size() || quality < 1 || quality > 100)
                throw UsageError("--quality takes a whole number from 1 to 100, not '" + text + "'");
            request.save.quality = quality;
            request.qualityGiven = true;
            continue;
        }
        if (name == "format") {
            const std::string& ext = needValue();
            request.batchExtension = "." + ext;
            request.batchFormat = saveFormatFor("picture" + request.batchExtension);
            if (!request.batchFormat)
                throw UsageError("--format takes " + writableExtensions(false, "or") + ", not '" + ext + "'");
            continue;
        }
        if (name == "lossless") {
            request.save.lossless = true;
            continue;
        }
        if (name == "strip") {
            request.strip = true;
            continue;
        }
        if (name == "keep-location") {
            request.save.keepLocation = true;
            continue;
        }
        const ParamDeclaration* param = request.effect ? request.effect->findParam(name) : nullptr;
        if (!param)
            throw UsageError(effectName + " has no parameter " + arg + " (plumora-cli " + effectName + " --help)");
        given.emplace_back(param->key, param->kind == ParamKind::Flag ? "" : needValue());
    }

    if (request.strip && request.save.keepLocation)
        throw UsageError("--strip and --keep-location do not go together: --strip leaves the location out too");

    if (request.effect) {
        try {
            request.values = request.effect->parse(given);
        } catch (const ParamError& e) {
            throw UsageError(e.what());
        }
    }
    if (isRecipe) {
        if (!recipeText) {
            if (positional.empty())
                throw UsageError("recipe needs a FILE.plumora-recipe (or --json TEXT) first");
            request.recipeFile = positional.front();
            positional.erase(positional.begin());
        }
        request.recipe = recipeFor(recipeText, request.recipeFile);
        if (request.print) {
            if (!positional.empty() || !request.outputDir.empty() || request.batchFormat || request.skipExisting ||
                request.qualityGiven || request.save.lossless)
                throw UsageError("--print shows the recipe's steps: it takes no INPUT, OUTPUT or batch options");
            return request;
        }
    }

    if (request.outputDir.empty()) {
        if (request.batchFormat)
            throw UsageError("--format goes with --output-dir");
        if (request.skipExisting)
            throw UsageError("--skip-existing goes with --output-dir");
        if (positional.size() != 2)
            throw UsageError("give one INPUT and one OUTPUT, or INPUT... --output-dir DIR");
        request.inputs = {positional[0]};
        request.output = positional[1];
        if (!saveFormatFor(request.output))
            throw UsageError(request.output + ": the output must end in " + writableExtensions(true, "or"));
        checkSaveOptions(request, request.output);
    } else {
        if (positional.empty())
            throw UsageError("no INPUT files given");
        request.inputs = positional;
    }
    return request;
}

// Refuses an output that is a file the run reads, before any work, unless
// --overwrite allows it: the file would be gone before a batch's later
// files, or a rerun, could read it. One file has many names ("a.bmp",
// "./a.bmp", a hard link, a symbolic link), so files are told apart by
// device and inode, not by their names.
void checkOutputsSpareInputs(const Request& request, const std::vector<std::string>& outputs)
{
    if (request.overwrite)
        return;
    std::vector<std::string> read = request.inputs;
    if (!request.recipeFile.empty())
        read.push_back(request.recipeFile);
    if (request.effect)
        for (const ParamDeclaration& p : request.effect->params)
            if (p.kind == ParamKind::File && request.values.hasText(p.key))
                read.push_back(request.values.text(p.key));
    std::map<std::pair<dev_t, ino_t>, std::string> files;
    struct stat info {};
    for (const std::string& name : read)
        if (::stat(name.c_str(), &info) == 0)
            files.emplace(std::pair(info.st_dev, info.st_ino), name);
    for (const std::string& output : outputs) {
        if (::stat(output.c_str(), &info) != 0)
            continue;
        const auto input = files.find(std::pair(info.st_dev, info.st_ino));
        if (input != files.end())
            throw UsageError(output + " would write over the input " + input->second + " (--overwrite allows it)");
    }
}

// Where a batch writes one input.
std::string batchOutputName(const Request& request, const std::string& input)
{
    fs::path name = fs::path(input).filename();
    if (request.batchFormat)
        name.replace_extension(request.batchExtension);
    return (fs::path(request.outputDir) / name).string();
}

// A one-line progress bar on stderr, redrawn in place.
class Progress {
public:
    Progress(std::size_t total, bool enabled) : m_total(total), m_enabled(enabled) {}

    void step()
    {
        std::lock_guard lock(m_mutex);
        ++m_done;
        draw();
    }

    // Prints a line above the bar.
    void report(const std::string& line)
    {
        std::lock_guard lock(m_mutex);
        if (m_enabled)
            std::fputs("\r\033[K", stderr);
        std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
        draw();
    }

    void finish()
    {
        std::lock_guard lock(m_mutex);
        if (m_enabled)
            std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }

private:
    void draw()
    {
        if (!m_enabled)
            return;
        constexpr std::size_t kWidth = 30;
        const std::size_t filled = m_total ? m_done * kWidth / m_total : kWidth;
        std::fprintf(stderr, "\r[%s%s] %zu/%zu", std::string(filled, '#').c_str(),
                     std::string(kWidth - filled, ' ').c_str(), m_done, m_total);
        std::fflush(stderr);
    }

    std::mutex m_mutex;
    std::size_t m_total;
    std::size_t m_done = 0;
    bool m_enabled;
};

// Where a batch writes each input. Everything the command line alone can
// tell is refused before any work, as in single mode: a batch may run for
// hours.
std::vector<std::string> batchOutputs(const Request& request)
{
    std::vector<std::string> outputs;
    std::set<std::string> seen;
    for (const std::string& input : request.inputs) {
        outputs.push_back(batchOutputName(request, input));
        if (!request.batchFormat && !saveFormatFor(outputs.back()))
            throw UsageError(outputs.back() + ": the output must end in " + writableExtensions(true, "or") +
                             " (--format gives it one)");
        checkSaveOptions(request, outputs.back());
        if (!seen.insert(outputs.back()).second)
            throw UsageError("two inputs would both be written to " + outputs.back());
    }
    checkOutputsSpareInputs(request, outputs);
    // A worker killed while it wrote (a batch stopped, a Dask worker lost)
    // left its temporary file behind; the next run in the folder clears what
    // is older than itself. The Python batch plans through here too.
    removeStaleTemporaries(request.outputDir, std::chrono::system_clock::now());
    return outputs;
}

// With --skip-existing, the inputs whose outputs are there already are
// left out. An output is written through a temporary file renamed into
// place, so one that exists is whole: a rerun of a batch cut short does
// only what is missing.
void leaveOutWritten(const Request& request, std::vector<std::string>& inputs, std::vector<std::string>& outputs)
{
    if (!request.skipExisting)
        return;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(outputs[i], ec)))
            continue;
        if (kept != i) {
            inputs[kept] = std::move(inputs[i]);
            outputs[kept] = std::move(outputs[i]);
        }
        ++kept;
    }
    inputs.resize(kept);
    outputs.resize(kept);
}

int runBatch(const Request& request)
{
    std::vector<std::string> inputs = request.inputs;
    std::vector<std::string> outputs = batchOutputs(request);
    leaveOutWritten(request, inputs, outputs);
    std::error_code ec;
    fs::create_directories(request.outputDir, ec);
    if (!fs::is_directory(request.outputDir, ec)) {
        std::fprintf(stderr, "%s: %s: cannot create the output folder\n", kProgram, request.outputDir.c_str());
        return kExitFailure;
    }

    // Whole files in parallel, each worker on one core: pictures are
    // independent, and that keeps every core busy even with small files.
    Progress progress(inputs.size(), isatty(STDERR_FILENO) == 1);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    auto worker = [&] {
        SerialScope serial;
        for (std::size_t i; (i = next.fetch_add(1)) < inputs.size();) {
            if (auto failure = request.recipe ? processRecipeFile(*request.recipe, inputs[i], outputs[i], request.save,
                                                                  request.strip)
                                              : processFile(request.effect, request.values, inputs[i], outputs[i],
                                                            request.save, request.strip)) {
                failed = true;
                progress.report(*failure);
            }
            progress.step();
        }
    };
    const std::size_t workers = std::min<std::size_t>(std::size_t(threadCount()), inputs.size());
    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (std::size_t t = 1; t < workers; ++t) {
        try {
            threads.push_back(g_startWorker ? g_startWorker(worker) : std::thread(worker));
        } catch (const std::system_error&) {
            // The system gives no more threads (a limit on processes, no
            // memory for another stack): the workers started so far, this
            // thread among them, share the files.
            break;
        }
    }
    worker();
    for (auto& t : threads)
        t.join();
    progress.finish();
    return failed ? kExitFailure : kExitOk;
}

}  // namespace

BatchPlan planBatch(const std::vector<std::string>& args)
{
    if (args.empty())
        throw UsageError("no EFFECT given");
    const Request request = parseRequest(args);
    if (request.outputDir.empty())
        throw UsageError("a batch writes into a folder: give INPUT... --output-dir DIR");
    std::vector<std::string> inputs = request.inputs;
    std::vector<std::string> outputs = batchOutputs(request);
    leaveOutWritten(request, inputs, outputs);
    return {request.effect ? request.effect->name : args.front(),
            request.given,
            std::move(inputs),
            std::move(outputs),
            request.outputDir,
            request.save,
            request.recipe ? recipeJson(*request.recipe) : std::string(),
            request.strip};
}

EffectContext fileEffectContext()
{
    // Every file starts from the state the program starts with, so its
    // picture does not depend on the files before it.
    EffectContext context;
    context.namesTooSmallPictures = true;
    context.builtInTile = builtInTexture;
    context.readPicture = [](const std::string& name) {
        std::error_code missing;
        if (!fs::is_regular_file(name, missing))
            throw PlumoraError(name + ": no such file");
        try {
            return readAnyPicture(name);
        } catch (const NotValidFormatError&) {
            throw PlumoraError(name + ": not a picture format plumora-cli can read");
        }
    };
    return context;
}

namespace {

// One file: read, changed by work, written; the failure's line, or nothing.
template <class Work>
std::optional<std::string> processWith(const std::string& input, const std::string& output, const SaveOptions& save,
                                       bool strip, const Work& work)
{
    try {
        std::error_code ec;
        if (!fs::exists(input, ec))
            return input + ": no such file";
        if (!fs::is_regular_file(input, ec))
            return input + ": not a file";
        TBitmap32 picture;
        try {
            picture = readAnyPicture(input);
        } catch (const NotValidFormatError&) {
            return input + ": not a picture format plumora-cli can read";
        }
        picture = work(std::move(picture));
        // The input's profile and camera data go with its picture, read from
        // the file's headers (no pass over the pixels).
        if (strip) {
            savePicture(picture, output, save);
        } else {
            SaveOptions withMetadata = save;
            withMetadata.metadata = readPictureMetadata(input);
            savePicture(picture, output, withMetadata);
        }
        return std::nullopt;
    } catch (const FileWriteError& e) {
        return e.what();
    } catch (const PlumoraError& e) {
        return input + ": " + e.what();
    } catch (const std::bad_alloc&) {
        return input + ": not enough memory for this picture";
    }
}

}  // namespace

std::optional<std::string> processFile(const EffectDeclaration* effect, const ParamValues& values,
                                       const std::string& input, const std::string& output, const SaveOptions& save,
                                       bool strip)
{
    return processWith(input, output, save, strip, [&](TBitmap32 picture) {
        if (!effect)
            return picture;
        EffectContext context = fileEffectContext();
        return effect->apply(picture, values, context);
    });
}

std::optional<std::string> processRecipeFile(const Recipe& recipe, const std::string& input, const std::string& output,
                                             const SaveOptions& save, bool strip)
{
    return processWith(input, output, save, strip, [&](const TBitmap32& picture) {
        EffectContext context = fileEffectContext();
        return applyRecipe(recipe, picture, context);
    });
}

void setBatchWorkerStarter(WorkerStarter starter)
{
    g_startWorker = std::move(starter);
}

int runCli(const std::vector<std::string>& args)
{
    try {
        if (args.empty()) {
            printUsage(std::cerr);
            return kExitUsage;
        }
        const std::string& first = args.front();
        if (first == "--help" || first == "-h") {
            printUsage(std::cout);
            return kExitOk;
        }
        if (first == "--list") {
            if (args.size() == 2 && args[1] == "--markdown")
                std::cout << effectsMarkdown();
            else if (args.size() == 2 && args[1] == "--man")
                printManPage(std::cout);
            else if (args.size() == 1)
                printList(std::cout);
            else
                throw UsageError("--list takes --markdown or --man");
            return kExitOk;
        }
        if (std::find(args.begin() + 1, args.end(), "--help") != args.end()) {
            if (first == "recipe") {
                printRecipeHelp(std::cout);
                return kExitOk;
            }
            if (first == "convert") {
                std::cout << "convert  open and save without an effect\n";
                return kExitOk;
            }
            if (const EffectDeclaration* effect = findEffect(first)) {
                printEffect(std::cout, *effect);
                return kExitOk;
            }
        }
        const Request request = parseRequest(args);
        if (request.print) {
            std::cout << describeRecipe(*request.recipe);
            return kExitOk;
        }
        if (!request.outputDir.empty())
            return runBatch(request);
        checkOutputsSpareInputs(request, {request.output});
        removeStaleTemporaries(fs::path(request.output).parent_path().string(), std::chrono::system_clock::now());
        const std::string& input = request.inputs.front();
        if (auto failure =
                request.recipe
                    ? processRecipeFile(*request.recipe, input, request.output, request.save, request.strip)
                    : processFile(request.effect, request.values, input, request.output, request.save, request.strip)) {
            std::fprintf(stderr, "%s: %s\n", kProgram, failure->c_str());
            return kExitFailure;
        }
        return kExitOk;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
        return kExitUsage;
    }
}

}  // namespace plumora
