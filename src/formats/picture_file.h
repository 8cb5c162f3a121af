#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "formats/metadata.h"
#include "raster/bitmap32.h"
#include "raster/errors.h"

namespace plumora {

// A file that is missing or not in a format we read.
class NotValidFormatError : public PlumoraError {
public:
    using PlumoraError::PlumoraError;
};

// A file we could not write, with the system's error number when the
// system gave one (0 otherwise): callers such as the Python module tell a
// refused permission from a missing folder by it.
class FileWriteError : public PlumoraError {
public:
    explicit FileWriteError(const std::string& message, int error = 0) : PlumoraError(message), m_error(error) {}
    int error() const { return m_error; }

private:
    int m_error;
};

// Told the whole text of the message for an icon that cannot be read.
using IconErrorHandler = std::function<void(const std::string& text)>;

// Reads the picture file `name`, choosing the reader by the last four
// characters of the name in upper case: ".BMP", ".ICO", ".JPG" or "JPEG",
// ".GIF", ".WMF" or ".EMF". A HEIF (HEIC, AVIF) or JPEG XL file is known by
// its first bytes instead, whatever its name, and read (phones and web sites
// hand them out as ".jpg" too); a WebP is known the same way and left to
// readAnyPicture. Returns nothing when no such file exists and an empty
// picture for any other extension. A file that cannot be decoded
// raises PlumoraError with the reader's message, except an icon: that is
// handed to onIconError as "Input picture<name>Error.<message>" and the
// result is then an empty picture (without a handler, that text is raised).
// The picture is opaque: its fourth bytes are all 255 whatever the file
// held, and its colour bytes are the reader's. It is ready for the document
// as it is.
std::optional<TBitmap32> LoadPictureFile(const std::string& name, const IconErrorHandler& onIconError = {});

// The text for an icon that cannot be read.
std::string iconErrorText(const std::string& name, const std::string& message);

// Opens a picture the way the program does (LoadPictureFile). A missing
// file or an unknown format raises NotValidFormatError with the message
// "<name> is not a valid format".
TBitmap32 openPicture(const std::string& name);

// The message for a file we cannot open as a picture.
std::string notValidFormatMessage(const std::string& name);

// Whether SVG drawings are read. An SVG may draw other files of this
// computer into itself (an <image> naming a local picture), so converting a
// drawing from elsewhere could copy a private picture into the output: only
// the desktop program, where the user opens their own files and sees them,
// reads SVG. Elsewhere (plumora-cli, Python, the batch) one is refused with
// kSvgRefusedMessage, whatever the file's name.
enum class SvgDrawings { Refused, Read };
inline constexpr const char* kSvgRefusedMessage =
    "SVG drawings are read only by the desktop program: an SVG can show other files of this computer.";

// Any picture file a reader of ours or of Qt's image plugins can decode
// (HEIC, AVIF and JPEG XL through libheif and libjxl; PNG, WebP, TIFF, TGA,
// PPM, ... through Qt's plugins; besides ours), fourth byte 255: what
// plumora-cli and the open dialog's preview read. Samples deeper than 8
// bits are rounded to 8. The size is checked against the program's limit
// before any pixel is decoded.
TBitmap32 readAnyPicture(const std::string& name, SvgDrawings svg = SvgDrawings::Refused);

// Loads Qt's image plugins, once, on a thread Qt keeps until the process
// ends. Code that reads or writes pictures through Qt itself, on a thread
// that may end before the process does, calls it first (the readers and
// writers here do).
void loadQtImagePlugins();

// Output formats.
enum class SaveFormat { Bmp, Jpeg, Png, Wmf, Webp, Tiff };

// How a picture is encoded where its format has a choice: the quality of a
// JPEG or a lossy WebP (1..100), and whether a WebP is lossless (then the
// quality is not used). The other formats ignore both.
//
// The metadata of the file the picture came from goes into a JPEG, PNG,
// WebP or TIFF (BMP and WMF have no place for it): its colour profile as it
// is, and its Exif block with the orientation 1 (the picture is upright
// already), the pixel sizes the picture's, without the thumbnail, and
// without the location (GPS) unless keepLocation.
inline constexpr int kQualityMin = 1;
inline constexpr int kQualityMax = 100;
inline constexpr int kQualityDefault = 90;
struct SaveOptions {
    int quality = kQualityDefault;
    bool lossless = false;
    PictureMetadata metadata = {};
    bool keepLocation = false;
};

// One type of file Plumora writes: its name as the user reads it ("JPEG"),
// its extensions in lower case with their dot, the usual one first
// (".jpg", ".jpeg"), and whether it takes a quality.
struct WritableType {
    SaveFormat format;
    const char* name;
    std::vector<std::string> extensions;
    bool takesQuality;
};

// Every type Plumora writes, in the order a list offers them: JPEG, PNG,
// WebP, TIFF, BMP, WMF. The save dialog, plumora-cli and Python all take
// their types from here.
const std::vector<WritableType>& writableTypes();
const WritableType& writableType(SaveFormat format);

// The type a file name's extension names (case ignored), or nothing.
std::optional<SaveFormat> saveFormatFor(const std::string& name);

// The name with whatever follows the last dot of its file name replaced by
// ext (".jpg"), or ext appended when the file name has no dot.
std::string replaceExtension(const std::string& name, const std::string& ext);

// The picture as a file of the given format. A quality outside 1..100
// raises PlumoraError.
std::vector<std::uint8_t> encodePicture(const TBitmap32& picture, SaveFormat format, const SaveOptions& options = {});

// Writes bytes to name through a temporary file in the same folder that is
// renamed over name at the end, so name is never left half written and a
// failure leaves no temporary behind. The name is used as its bytes are,
// UTF-8 or not. A symbolic link is written through (it stays a link); a
// file replaced keeps its permissions. Throws FileWriteError naming the file
// and the system's reason on failure.
void writeFileAtomically(const std::string& name, const std::vector<std::uint8_t>& bytes);

// The same, with the bytes handed over piece by piece: produce calls its
// argument with each piece in order. A large file need not be held whole in
// memory; if produce throws, name is left as it was.
void writeFileAtomically(
    const std::string& name,
    const std::function<void(const std::function<void(const std::uint8_t*, std::size_t)>&)>& produce);

// Removes from folder the temporary files writeFileAtomically leaves behind
// when its process is killed while it writes: files named exactly ".plumora-",
// 16 lower-case hexadecimal digits, ".tmp", last changed before `before` (a
// run that is writing there now keeps its own). Nothing else is touched; a
// file that cannot be removed is left. Returns how many went.
int removeStaleTemporaries(const std::string& folder, std::chrono::system_clock::time_point before);

// Saves by extension (writableTypes): .bmp (24-bit, written a band of rows
// at a time), .jpg/.jpeg (baseline, quality 90 unless told), .wmf
// (placeable metafile holding the picture), .png (lossless), .webp (lossy at
// the quality, or lossless), .tif/.tiff (deflate). Any other extension
// raises PlumoraError.
void savePicture(const TBitmap32& picture, const std::string& name, const SaveOptions& options = {});

// Reads a whole file; throws PlumoraError naming the reason.
std::vector<std::uint8_t> readWholeFile(const std::string& name);

}  // namespace plumora
