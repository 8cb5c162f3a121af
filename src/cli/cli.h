#pragma once

#include "formats/picture_file.h"
#include "raster/errors.h"

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace plumora {

struct EffectContext;
struct EffectDeclaration;
class ParamValues;
struct Recipe;

// Exit statuses of plumora-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // a file could not be read, processed or written
inline constexpr int kExitUsage = 2;    // the command line is wrong

// Runs plumora-cli with its arguments (without the program name).
int runCli(const std::vector<std::string>& args);

// What an effect run on a file has besides its picture: the built-in
// texture tiles, the pictures its File parameters name, and a fresh state
// (so a file's result never depends on the files before it).
EffectContext fileEffectContext();

// What plumora-cli does with one file: reads input, applies effect with
// values (no effect: the picture as read, as "convert" does) and saves the
// result to output in the format its extension names, with save's quality
// or lossless where that format takes them, and the input's colour profile
// and camera data unless strip (save's keepLocation keeps the GPS data).
// Returns the failure's text as the tool prints it, or nothing when the
// file was written.
std::optional<std::string> processFile(const EffectDeclaration* effect, const ParamValues& values,
                                       const std::string& input, const std::string& output,
                                       const SaveOptions& save = {}, bool strip = false);

// The same for a recipe: the picture read from input, the recipe applied
// to it from the state the program starts with (fileEffectContext), the
// result written to output.
std::optional<std::string> processRecipeFile(const Recipe& recipe, const std::string& input, const std::string& output,
                                             const SaveOptions& save = {}, bool strip = false);

// A mistake in the command line; its message is the tool's.
class UsageError : public PlumoraError {
public:
    using PlumoraError::PlumoraError;
};

// A batch as plumora-cli's command line gives it (EFFECT [options]...
// INPUT... --output-dir DIR [--format EXT] [--quality N] [--lossless]
// [--strip] [--keep-location] [--overwrite] [--skip-existing], or recipe
// FILE (or --json TEXT) INPUT... --output-dir DIR ...), checked as the tool
// checks it before any work: the effect's options as given, where each input
// is written (with
// --skip-existing, only the inputs whose outputs are not there yet) and how
// (quality, lossless). Throws UsageError with the tool's message.
struct BatchPlan {
    std::string effect;  // its name, "convert" or "recipe"
    std::vector<std::pair<std::string, std::string>>
        given;  // the effect's options, as EffectDeclaration::parse takes them
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    std::string outputDir;
    SaveOptions save;
    std::string recipe;  // "recipe": the recipe checked, in its file's one form (recipeJson)
    bool strip = false;
};
BatchPlan planBatch(const std::vector<std::string>& args);

// Starts one of a batch's worker threads; by default a std::thread. A test
// puts in one that throws std::system_error, as a system out of threads
// does, to see the batch through without them. Empty restores the default.
using WorkerStarter = std::function<std::thread(std::function<void()>)>;
void setBatchWorkerStarter(WorkerStarter starter);

}  // namespace plumora
