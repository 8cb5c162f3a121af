// The Python module's native part, plumora._plumora: the effects table, an
// effect run on a numpy array, and the program's own picture readers and
// writers. The package around it (python/plumora/) gives the public names,
// their documentation and the Dask batch.

#include "cli/cli.h"
#include "cli/metafile_text.h"
#include "document/recipe.h"
#include "effects/effects.h"
#include "effects/paint/brume.h"
#include "formats/picture_file.h"
#include "raster/bitmap32.h"
#include "raster/errors.h"
#include "raster/interleaved.h"
#include "raster/parallel.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace plumora {
namespace {

// Raises a Python exception with the program's message. File names in it
// may hold any bytes: they come out as os.fsdecode gives them.
[[noreturn]] void raise(PyObject* type, const std::string& text)
{
    PyObject* message = PyUnicode_DecodeUTF8(text.data(), Py_ssize_t(text.size()), "surrogateescape");
    if (message) {
        PyErr_SetObject(type, message);
        Py_DECREF(message);
    }
    throw py::error_already_set();
}

// Raises the OSError subclass Python gives the system's error number
// (FileNotFoundError, IsADirectoryError, PermissionError...), with errno
// and filename set, so that `except PermissionError` catches what it names.
// As Python's own: "[Errno 21] is a folder, not a picture file: '/tmp'".
[[noreturn]] void raiseOSError(int error, const std::string& text, const std::string& name)
{
    PyObject* message = PyUnicode_DecodeUTF8(text.data(), Py_ssize_t(text.size()), "surrogateescape");
    PyObject* filename = PyUnicode_DecodeFSDefaultAndSize(name.data(), Py_ssize_t(name.size()));
    PyObject* exception =
        message && filename ? PyObject_CallFunction(PyExc_OSError, "iO", error ? error : EIO, message) : nullptr;
    if (exception && PyObject_SetAttrString(exception, "filename", filename) == 0)
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception)), exception);
    Py_XDECREF(exception);
    Py_XDECREF(filename);
    Py_XDECREF(message);
    throw py::error_already_set();
}

std::string systemReason(int error)
{
    return std::generic_category().message(error);
}

const char* kindName(ParamKind kind)
{
    switch (kind) {
    case ParamKind::Number:
        return "number";
    case ParamKind::Slider:
        return "slider";
    case ParamKind::Choice:
        return "choice";
    case ParamKind::Steps:
        return "steps";
    case ParamKind::Flag:
        return "flag";
    case ParamKind::Grid:
        return "grid";
    case ParamKind::Colour:
        return "colour";
    case ParamKind::File:
        return "file";
    }
    return "number";
}

// A parameter's default as Python gives it back to apply(): a number, a
// word, a flag's bool, a grid's list, a colour's "RRGGBB".
py::object defaultOf(const ParamDeclaration& p)
{
    switch (p.kind) {
    case ParamKind::Grid:
        return py::cast(p.defaultGrid);
    case ParamKind::Flag:
        return py::bool_(p.defaultValue.value_or(0) != 0);
    case ParamKind::Choice:
        if (p.defaultValue && std::size_t(*p.defaultValue) < p.words.size())
            return py::str(p.words[std::size_t(*p.defaultValue)]);
        return py::none();
    case ParamKind::Colour:
        if (p.defaultValue) {
            char text[8];
            std::snprintf(text, sizeof text, "%06X", unsigned(*p.defaultValue) & 0xFFFFFFu);
            return py::str(text);
        }
        return py::none();
    default:
        return p.defaultValue ? py::object(py::int_(*p.defaultValue)) : py::object(py::none());
    }
}

py::list effectsList()
{
    py::list effects;
    for (const EffectDeclaration& e : effectTable()) {
        py::list params;
        for (const ParamDeclaration& p : e.params) {
            py::dict d;
            d["name"] = p.key;
            d["caption"] = p.listedCaption();
            d["kind"] = kindName(p.kind);
            d["values"] = describeParam(e, p);
            if (p.kind == ParamKind::Number || p.kind == ParamKind::Slider || p.kind == ParamKind::Grid) {
                d["min"] = p.min;
                d["max"] = p.max;
            }
            if (p.kind == ParamKind::Choice || p.kind == ParamKind::Steps)
                d["choices"] = p.words;
            d["default"] = defaultOf(p);
            params.append(std::move(d));
        }
        py::dict effect;
        effect["name"] = e.name;
        effect["summary"] = e.summary;
        effect["params"] = std::move(params);
        effect["alternatives"] = e.alternatives;
        effect["random"] = e.drawsRandom;  // takes apply's state and return_state
        effects.append(std::move(effect));
    }
    return effects;
}

const EffectDeclaration& effectNamed(const std::string& name)
{
    const EffectDeclaration* effect = findEffect(name);
    if (!effect)
        throw py::value_error("unknown effect '" + name + "' (plumora.effects() lists them all)");
    return *effect;
}

std::string fileName(const py::object& path)
{
    // os.fsencode gives the name's exact bytes, whatever they are.
    const py::object encoded = py::module_::import("os").attr("fsencode")(path);
    return encoded.cast<std::string>();
}

// Metafile text is drawn with Qt's fonts, which need a GUI application, as
// in plumora-cli: one on the offscreen platform is made the first time a
// metafile is named (with the GIL held, so once), unless the process has an
// application already. It lives as long as the process: Qt's application
// must not go while Python's threads may still draw.
void fontsForMetafiles(const std::string& name)
{
    static MetafileText* text = nullptr;
    if (!text && namesMetafile(name))
        text = new MetafileText({name});
}

// One value as the command line would have written it: a number, a flag's
// 0 or 1, a word or a file's exact name. Nothing else, and never a list.
std::optional<std::string> singleText(const py::handle& value)
{
    if (py::isinstance<py::bool_>(value))
        return value.cast<bool>() ? "1" : "0";
    if (py::isinstance<py::int_>(value))
        return py::str(value).cast<std::string>();
    if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) || py::hasattr(value, "__fspath__"))
        return fileName(py::reinterpret_borrow<py::object>(value));  // a word, or a file's exact name
    return std::nullopt;
}

std::string typeName(const py::handle& value)
{
    return py::str(py::type::of(value)).cast<std::string>();
}

// A Python value as the command line would have written it. A list (a
// grid's numbers, steps' words) is flat: a list inside it is refused, not
// walked, so no nesting, however deep, can exhaust the stack.
std::string commandLineText(const py::handle& value)
{
    if (std::optional<std::string> text = singleText(value))
        return *text;
    if (py::isinstance<py::list>(value) || py::isinstance<py::tuple>(value)) {
        std::string text;
        bool first = true;
        for (const py::handle item : value) {
            const std::optional<std::string> itemText = singleText(item);
            if (!itemText)
                throw py::type_error("a parameter's list holds ints or words, not " + typeName(item));
            if (!first)
                text += ',';
            text += *itemText;
            first = false;
        }
        return text;
    }
    throw py::type_error("a parameter takes an int, a str, a bool or a list of ints, not " + typeName(value));
}

// The values of a run from options as the command line gives them; a bad
// one raises ValueError with the command line's message.
ParamValues parsedOptions(const EffectDeclaration& effect,
                          const std::vector<std::pair<std::string, std::string>>& given)
{
    try {
        return effect.parse(given);
    } catch (const ParamError& e) {
        raise(PyExc_ValueError, e.what());
    }
}

// A file a parameter names (a texture's tile): what stands in the way of
// reading it is the OSError of its errno, as for plumora.read; what is in
// it is the effect's to judge.
void fileToRead(const std::string& name)
{
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) {
        const int error = errno;
        raiseOSError(error, error == ENOENT ? "no such file" : systemReason(error), name);
    }
    if (S_ISDIR(info.st_mode))
        raiseOSError(EISDIR, "is a folder, not a picture file", name);
    if (::access(name.c_str(), R_OK) != 0) {
        const int error = errno;
        raiseOSError(error, systemReason(error), name);
    }
}

// The values of a run from Python's keyword arguments, checked exactly as
// the command line checks its options: the same messages, as ValueError.
// A flag's True gives the flag, False leaves it out.
ParamValues parseKeywords(const EffectDeclaration& effect, const py::dict& keywords)
{
    std::vector<std::pair<std::string, std::string>> given;
    for (const auto& [key, value] : keywords) {
        std::string name = py::str(key).cast<std::string>();
        for (char& c : name)
            if (c == '_')
                c = '-';
        const ParamDeclaration* param = effect.findParam(name);
        if (!param)
            throw py::value_error(effect.name + " has no parameter --" + name);
        if (param->kind == ParamKind::Flag) {
            if (!py::isinstance<py::bool_>(value) && !py::isinstance<py::int_>(value))
                throw py::type_error(name + " is a flag: give True or False");
            if (value.cast<bool>())
                given.emplace_back(param->key, "");
            continue;
        }
        given.emplace_back(param->key, commandLineText(value));
        if (param->kind == ParamKind::File) {
            fileToRead(given.back().second);
            fontsForMetafiles(given.back().second);  // a texture tile's file
        }
    }
    return parsedOptions(effect, given);
}

// The picture of an (H, W) grey, (H, W, 3) RGB or (H, W, 4) RGBA uint8
// array, or of a Pillow Image (L, RGB or RGBA), as the rows of samples its
// memory holds. Anything else is refused rather than read as something it
// is not. An array's samples are read in numpy's C order: one in another
// order (a flipped view, a Fortran array, a channel of a wider array) is
// first made so by numpy, and only then, which the view keeps alive.
struct ArrayView {
    py::object owner;  // whose memory the rows are in
    std::vector<const std::uint8_t*> rows;
    py::ssize_t height, width;
    py::ssize_t channels;  // as given: 1 grey, 3 RGB, 4 RGBA
    int samples;           // a pixel's samples in memory: Pillow pads RGB to 4
};

// What is refused, in a few words whatever it was: never the value itself,
// which may be a list of millions of numbers.
[[noreturn]] void refuseImage(const py::handle& image)
{
    std::string type = py::str(py::type::of(image).attr("__qualname__")).cast<std::string>();
    if (type.size() > 60)
        type = type.substr(0, 60) + "...";
    raise(PyExc_TypeError, "the image must be a numpy uint8 array of shape (H, W), (H, W, 3) or (H, W, 4), or a "
                           "Pillow Image (RGB, RGBA or L), not " +
                               type);
}

// Pillow keeps an image as rows it allocates, each of a pixel's samples: 1
// for L, 4 for RGB (R, G, B and a padding byte) and RGBA. Its core hands
// out the table of their addresses; reading and writing them there spares
// the two conversions of Pillow's own, one thread each, that would cost
// more than the effect.
std::uint8_t* const* pillowRows(const py::handle& image)
{
    const py::dict pointers(image.attr("im").attr("unsafe_ptrs"));
    return reinterpret_cast<std::uint8_t* const*>(pointers["image"].cast<std::uintptr_t>());
}

int pillowChannels(const std::string& mode)
{
    return mode == "L" ? 1 : mode == "RGB" ? 3 : mode == "RGBA" ? 4 : 0;
}

ArrayView pillowView(const py::object& image)
{
    const int channels = pillowChannels(image.attr("mode").cast<std::string>());
    if (!channels)
        refuseImage(image);
    const auto size = image.attr("size").cast<std::pair<py::ssize_t, py::ssize_t>>();
    if (size.first < 1 || size.second < 1)
        throw py::value_error("the image is empty");
    std::uint8_t* const* rows = pillowRows(image);
    return {image,       std::vector<const std::uint8_t*>(rows, rows + size.second),
            size.second, size.first,
            channels,    channels == 1 ? 1 : 4};
}

// pillowNew: None for arrays, or Pillow's Image.new when the image is one.
ArrayView viewOf(const py::object& image, const py::object& pillowNew = py::none())
{
    if (!pillowNew.is_none() && !py::isinstance<py::array>(image))
        return pillowView(image);
    if (!py::isinstance<py::array>(image))
        refuseImage(image);
    py::array array = py::reinterpret_borrow<py::array>(image);
    if (!array.dtype().is(py::dtype::of<std::uint8_t>()))
        throw py::type_error("the image must be a numpy array of dtype uint8, not " +
                             py::str(array.dtype()).cast<std::string>());
    const bool colours = array.ndim() == 3 && (array.shape(2) == 3 || array.shape(2) == 4);
    if (array.ndim() != 2 && !colours)
        throw py::value_error("the image must have the shape (height, width) for grey, (height, width, 3) for RGB "
                              "or (height, width, 4) for RGBA");
    if (array.shape(0) < 1 || array.shape(1) < 1)
        throw py::value_error("the image is empty");
    if (!(array.flags() & py::array::c_style))
        array = py::module_::import("numpy").attr("ascontiguousarray")(array);
    const py::ssize_t channels = array.ndim() == 2 ? 1 : array.shape(2);
    std::vector<const std::uint8_t*> rows(std::size_t(array.shape(0)));
    for (std::size_t y = 0; y < rows.size(); ++y)
        rows[y] = static_cast<const std::uint8_t*>(array.data()) + py::ssize_t(y) * array.strides(0);
    return {array, std::move(rows), array.shape(0), array.shape(1), channels, int(channels)};
}

// The picture of the view, opaque unless withAlpha: then an RGBA image's
// alpha rides in each pixel's fourth byte. Called without the GIL.
TBitmap32 pictureOf(const ArrayView& a, bool withAlpha = false)
{
    if (a.height > INT32_MAX || a.width > INT32_MAX)
        throw ImageTooLargeError("The picture is too large.");
    TBitmap32 picture{int(a.width), int(a.height)};
    pictureFromRows(a.rows.data(), a.samples, withAlpha && a.channels == 4, picture);
    return picture;
}

// The channels given back for a result: a grey image's result is grey
// again when the effect left it grey, RGB when it coloured it.
py::ssize_t resultChannels(const TBitmap32& result, py::ssize_t given)
{
    if (given != 1)
        return given;
    py::gil_scoped_release unlocked;
    return isGreyPicture(result) ? 1 : 3;
}

// Writes the picture into rows of `samples` a pixel. With four channels the
// alpha comes from the given view, which must be the picture's size, or,
// without one, from the picture's own fourth bytes; Pillow's RGB padding is
// 255, as Pillow's own conversions leave it.
void fillRows(const TBitmap32& picture, py::ssize_t channels, int samples, const ArrayView* alpha,
              std::uint8_t* const* rows)
{
    const AlphaOut how = channels == 3 && samples == 4 ? AlphaOut::Opaque : alpha ? AlphaOut::From : AlphaOut::Own;
    py::gil_scoped_release unlocked;
    rowsFromPicture(picture, samples, how, alpha ? alpha->rows.data() : nullptr, rows);
}

// A fresh array of the picture's colours, `channels` a pixel.
py::array_t<std::uint8_t> arrayOf(const TBitmap32& picture, py::ssize_t channels, const ArrayView* alpha)
{
    std::vector<py::ssize_t> shape{picture.height(), picture.width()};
    if (channels != 1)
        shape.push_back(channels);
    py::array_t<std::uint8_t> out(shape);
    std::vector<std::uint8_t*> rows(std::size_t(picture.height()));
    for (std::size_t y = 0; y < rows.size(); ++y)
        rows[y] = out.mutable_data() + py::ssize_t(y) * out.strides(0);
    fillRows(picture, channels, int(channels), alpha, rows.data());
    return out;
}

// A fresh Pillow Image of the picture: L, RGB or RGBA by the channels.
py::object imageOf(const TBitmap32& picture, py::ssize_t channels, const ArrayView* alpha, const py::object& pillowNew)
{
    const char* mode = channels == 1 ? "L" : channels == 3 ? "RGB" : "RGBA";
    py::object image = pillowNew(mode, py::make_tuple(picture.width(), picture.height()));
    fillRows(picture, channels, channels == 1 ? 1 : 4, alpha, pillowRows(image));
    return image;
}

// The result in the kind of the image given: an array, or a Pillow Image.
py::object resultOf(const TBitmap32& picture, py::ssize_t channels, const ArrayView* alpha, const py::object& pillowNew)
{
    if (pillowNew.is_none())
        return arrayOf(picture, channels, alpha);
    return imageOf(picture, channels, alpha, pillowNew);
}

// The program's own errors as Python's: a file that cannot be written as
// the OSError its errno names, a refused file or value as ValueError
// (std::bad_alloc becomes MemoryError by itself).
template <class F>
auto translated(F&& f, const std::string& file = {})
{
    try {
        return f();
    } catch (const FileWriteError& e) {
        raiseOSError(e.error(), e.error() ? systemReason(e.error()) : e.what(), file);
    } catch (const PlumoraError& e) {
        raise(PyExc_ValueError, e.what());
    }
}

py::object apply(const std::string& name, const py::object& image, const py::dict& keywords,
                 std::optional<std::uint32_t> state, bool returnState, const py::object& pillowNew)
{
    const EffectDeclaration& effect = effectNamed(name);
    const ParamValues values = parseKeywords(effect, keywords);
    const bool random = effect.drawsRandom;
    if ((state || returnState) && !random)
        throw py::value_error(effect.name + " takes no state (only brume runs on from one picture to the next)");
    const ArrayView view = viewOf(image, pillowNew);
    // The effects without a window of their own (the quarter turns, resize)
    // move whole pixels, all four bytes of each: an RGBA array's alpha rides
    // along in the fourth bytes, so it turns with a turn and is stretched
    // with a resize. The others see an opaque picture of the same size and
    // the alpha comes back as it was.
    const bool alphaMoves = !effect.inMenu();
    TBitmap32 result;
    EffectContext context = fileEffectContext();
    if (state)
        context.random = BrumeRandom(*state);
    translated([&] {
        // Reading the array, the effect and its threads run without the GIL,
        // so Python threads run effects side by side. The caller's reference
        // keeps the array alive meanwhile.
        py::gil_scoped_release unlocked;
        const TBitmap32 picture = pictureOf(view, alphaMoves);
        result = effect.apply(picture, values, context);
        return 0;
    });
    const bool alphaAsGiven =
        view.channels == 4 && !alphaMoves && result.width() == view.width && result.height() == view.height;
    py::object out = resultOf(result, resultChannels(result, view.channels), alphaAsGiven ? &view : nullptr, pillowNew);
    if (returnState)
        return py::make_tuple(std::move(out), context.random.state());
    return out;
}

py::bytes bytesOf(const std::vector<std::uint8_t>& data)
{
    return py::bytes(reinterpret_cast<const char*>(data.data()), data.size());
}

std::vector<std::uint8_t> bytesFrom(const py::bytes& data)
{
    const std::string_view view = data;
    return {view.begin(), view.end()};
}

// The picture, and with withMetadata its file's colour profile and Exif
// block as bytes (read from the file's headers, after the picture).
py::object readFile(const py::object& path, bool withMetadata)
{
    const std::string name = fileName(path);
    fontsForMetafiles(name);
    // What stands in the way is said as the system says it, by its errno:
    // a missing file, a folder, a file this user may not read.
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) {
        const int error = errno;
        raiseOSError(error, error == ENOENT ? "no such file" : systemReason(error), name);
    }
    if (S_ISDIR(info.st_mode))
        raiseOSError(EISDIR, "is a folder, not a picture file", name);
    if (!S_ISREG(info.st_mode))
        raise(PyExc_ValueError, name + ": not a file");
    if (::access(name.c_str(), R_OK) != 0) {
        const int error = errno;
        raiseOSError(error, systemReason(error), name);
    }
    PictureMetadata metadata;
    TBitmap32 picture = translated([&] {
        py::gil_scoped_release unlocked;
        TBitmap32 read = readAnyPicture(name);
        if (withMetadata)
            metadata = readPictureMetadata(name);
        return read;
    });
    py::array_t<std::uint8_t> image = arrayOf(picture, 3, nullptr);
    if (!withMetadata)
        return std::move(image);
    return py::make_tuple(std::move(image), bytesOf(metadata.icc), bytesOf(metadata.exif));
}

// Every extension we write, for the message about a name that has none of them.
std::string writableExtensionList()
{
    std::vector<std::string> all;
    for (const WritableType& type : writableTypes())
        all.insert(all.end(), type.extensions.begin(), type.extensions.end());
    std::string list;
    for (std::size_t i = 0; i < all.size(); ++i)
        list += (i == 0 ? "" : i + 1 == all.size() ? " or " : ", ") + all[i];
    return list;
}

// quality: None (90), or 1..100 for a type that takes one (JPEG, WebP);
// lossless for WebP. A setting the file would not use is refused, as
// plumora-cli refuses it.
SaveOptions saveOptionsFor(const std::string& name, SaveFormat format, const py::object& quality, bool lossless)
{
    SaveOptions options;
    options.lossless = lossless;
    const WritableType& type = writableType(format);
    if (!quality.is_none()) {
        if (!py::isinstance<py::int_>(quality) || py::isinstance<py::bool_>(quality))
            raise(PyExc_TypeError, "quality must be a whole number from 1 to 100");
        const long value = quality.cast<long>();
        if (value < kQualityMin || value > kQualityMax)
            raise(PyExc_ValueError, "quality must be from 1 to 100, not " + std::to_string(value));
        if (!type.takesQuality)
            raise(PyExc_ValueError, name + ": quality goes with JPEG and WebP files, and this is " + type.name);
        if (lossless)
            raise(PyExc_ValueError, "quality and lossless do not go together: a lossless WebP has no quality");
        options.quality = int(value);
    }
    if (lossless && format != SaveFormat::Webp)
        raise(PyExc_ValueError, name + ": lossless goes with WebP files, and this is " + type.name);
    return options;
}

// icc and exif: the colour profile and Exif block to write (empty: none);
// keepLocation keeps the Exif block's GPS data.
void writeFile(const py::object& path, const py::object& image, const py::object& quality, bool lossless,
               const py::bytes& icc, const py::bytes& exif, bool keepLocation)
{
    const std::string name = fileName(path);
    const ArrayView view = viewOf(image);
    const std::optional<SaveFormat> format = saveFormatFor(name);
    if (!format)
        raise(PyExc_ValueError, name + ": the name must end in " + writableExtensionList());
    SaveOptions options = saveOptionsFor(name, *format, quality, lossless);
    if (keepLocation && (*format == SaveFormat::Bmp || *format == SaveFormat::Wmf))
        raise(PyExc_ValueError, name +
                                    ": keep_location goes with files that hold camera data (JPEG, PNG, WebP and "
                                    "TIFF), and this is " +
                                    writableType(*format).name);
    options.metadata.icc = bytesFrom(icc);
    options.metadata.exif = bytesFrom(exif);
    options.keepLocation = keepLocation;
    translated(
        [&] {
            py::gil_scoped_release unlocked;
            savePicture(pictureOf(view), name, options);
            return 0;
        },
        name);
}

// One file as plumora-cli processes it: the effect's name (or "convert"),
// its options as the command line gives them, the input and the output.
// Returns the failure's line, or None when the file was written. With
// serial, the file is computed on the calling thread alone, as
// plumora-cli's batch workers do: a batch runs files side by side instead.
std::optional<std::string> processOne(const std::string& name,
                                      const std::vector<std::pair<std::string, std::string>>& given,
                                      const py::object& input, const py::object& output, bool serial, int quality,
                                      bool lossless, bool strip, bool keepLocation)
{
    const EffectDeclaration* effect = name == "convert" ? nullptr : &effectNamed(name);
    const ParamValues values = effect ? parsedOptions(*effect, given) : ParamValues();
    const std::string in = fileName(input), out = fileName(output);
    fontsForMetafiles(in);
    for (const auto& option : given)
        fontsForMetafiles(option.second);  // a texture tile's file
    py::gil_scoped_release unlocked;
    std::optional<SerialScope> oneThread;
    if (serial)
        oneThread.emplace();
    SaveOptions save;
    save.quality = quality;
    save.lossless = lossless;
    save.keepLocation = keepLocation;
    return processFile(effect, values, in, out, save, strip);
}

// A name as Python's os module gives it back: any bytes survive.
py::object pathText(const std::string& name)
{
    return py::module_::import("os").attr("fsdecode")(py::bytes(name));
}

// plumora-cli's batch command line, checked as the tool checks it.
py::dict planBatchFor(const py::list& args)
{
    std::vector<std::string> words;
    for (const py::handle a : args)
        words.push_back(fileName(py::reinterpret_borrow<py::object>(a)));
    BatchPlan plan;
    try {
        plan = planBatch(words);
    } catch (const UsageError& e) {
        raise(PyExc_ValueError, e.what());
    }
    py::list inputs, outputs;
    for (const std::string& name : plan.inputs)
        inputs.append(pathText(name));
    for (const std::string& name : plan.outputs)
        outputs.append(pathText(name));
    py::dict d;
    d["effect"] = plan.effect;
    d["given"] = plan.given;
    d["inputs"] = inputs;
    d["outputs"] = outputs;
    d["output_dir"] = pathText(plan.outputDir);
    d["quality"] = plan.save.quality;
    d["lossless"] = plan.save.lossless;
    d["recipe"] = plan.recipe;
    d["strip"] = plan.strip;
    d["keep_location"] = plan.save.keepLocation;
    return d;
}

// ---------------------------------------------------------------------------
// Recipes. The Python side holds a recipe as its file's text in the one form
// recipeJson writes; each call here reads it again (a few microseconds), so
// no C++ object has to live in Python.

Recipe recipeOf(const std::string& json)
{
    return translated([&] { return parseRecipe(json); });
}

// The recipe in its one form, from any text a recipe file may hold.
std::string canonicalRecipe(const std::string& json)
{
    const Recipe recipe = recipeOf(json);
    return translated([&] { return recipeJson(recipe); });
}

// A recipe file, read as plumora-cli reads it: what stands in the way of
// reading it is the OSError of its errno, what is in it a ValueError.
std::string readRecipe(const py::object& path)
{
    const std::string name = fileName(path);
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) {
        const int error = errno;
        raiseOSError(error, error == ENOENT ? "no such file" : systemReason(error), name);
    }
    if (S_ISDIR(info.st_mode))
        raiseOSError(EISDIR, "is a folder, not a recipe file", name);
    if (::access(name.c_str(), R_OK) != 0) {
        const int error = errno;
        raiseOSError(error, systemReason(error), name);
    }
    return translated([&] { return recipeJson(readRecipeFile(name)); });
}

std::string describe(const std::string& json)
{
    const Recipe recipe = recipeOf(json);
    return translated([&] { return describeRecipe(recipe); });
}

// The turns and new sizes of a recipe alone: what becomes of an RGBA
// array's alpha, which moves with the pixels while the effects see an
// opaque picture.
Recipe geometryOf(const Recipe& recipe)
{
    Recipe geometry;
    for (const RecipeStep& step : recipe.steps)
        if (!std::holds_alternative<RecipeEffect>(step))
            geometry.steps.push_back(step);
    return geometry;
}

py::array_t<std::uint8_t> applyRecipeTo(const std::string& json, const py::object& image)
{
    const Recipe recipe = recipeOf(json);
    const ArrayView view = viewOf(image);
    TBitmap32 result, alpha;
    translated([&] {
        py::gil_scoped_release unlocked;
        EffectContext context = fileEffectContext();
        result = applyRecipe(recipe, pictureOf(view), context);
        if (view.channels == 4) {
            EffectContext none;
            alpha = applyRecipe(geometryOf(recipe), pictureOf(view, true), none);
        }
        return 0;
    });
    // The alpha goes into the result's fourth bytes, where arrayOf finds it.
    if (view.channels == 4 && alpha.width() == result.width() && alpha.height() == result.height()) {
        for (std::size_t i = kAlpha; i < result.byteCount(); i += 4)
            result.bits()[i] = alpha.bits()[i];
    }
    return arrayOf(result, resultChannels(result, view.channels), nullptr);
}

std::optional<std::string> processRecipe(const std::string& json, const py::object& input, const py::object& output,
                                         bool serial, int quality, bool lossless, bool strip, bool keepLocation)
{
    const Recipe recipe = recipeOf(json);
    const std::string in = fileName(input), out = fileName(output);
    fontsForMetafiles(in);
    py::gil_scoped_release unlocked;
    std::optional<SerialScope> oneThread;
    if (serial)
        oneThread.emplace();
    SaveOptions save;
    save.quality = quality;
    save.lossless = lossless;
    save.keepLocation = keepLocation;
    return processRecipeFile(recipe, in, out, save, strip);
}

}  // namespace
}  // namespace plumora

PYBIND11_MODULE(_plumora, m)
{
    using namespace plumora;
    m.doc() = "The native part of plumora; use the plumora package.";
    // pybind11 finds numpy's C API the first time an array is made, in a
    // function-local static whose initialisation imports numpy. That import
    // lets other threads take the GIL while the static's guard is held: a
    // second thread then waits for the guard with the GIL in hand, and the
    // first for the GIL. Done here, while the import of this module holds
    // its lock, the static is ready before any thread can call a function.
    py::module_::import("numpy");
    (void)py::dtype::of<std::uint8_t>();
    m.def("effects", &effectsList);
    m.def("apply", &apply, py::arg("name"), py::arg("image"), py::arg("params"), py::arg("state") = py::none(),
          py::arg("return_state") = false, py::arg("pillow_new") = py::none());
    m.def("read", &readFile, py::arg("path"), py::arg("metadata") = false);
    m.def("write", &writeFile, py::arg("path"), py::arg("image"), py::arg("quality") = py::none(),
          py::arg("lossless") = false, py::arg("icc") = py::bytes(), py::arg("exif") = py::bytes(),
          py::arg("keep_location") = false);
    m.def("plan_batch", &planBatchFor, py::arg("args"));
    m.def("process_file", &processOne, py::arg("effect"), py::arg("given"), py::arg("input"), py::arg("output"),
          py::arg("serial") = false, py::arg("quality") = kQualityDefault, py::arg("lossless") = false,
          py::arg("strip") = false, py::arg("keep_location") = false);
    m.def("recipe_json", &canonicalRecipe, py::arg("text"));
    m.def("read_recipe", &readRecipe, py::arg("path"));
    m.def("describe_recipe", &describe, py::arg("text"));
    m.def("apply_recipe", &applyRecipeTo, py::arg("text"), py::arg("image"));
    m.def("process_recipe_file", &processRecipe, py::arg("recipe"), py::arg("input"), py::arg("output"),
          py::arg("serial") = false, py::arg("quality") = kQualityDefault, py::arg("lossless") = false,
          py::arg("strip") = false, py::arg("keep_location") = false);
}
