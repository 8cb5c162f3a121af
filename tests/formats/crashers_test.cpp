// Every input that ever broke a reader is decoded again on every run.

#include "formats/bmp.h"
#include "formats/gif.h"
#include "formats/heif.h"
#include "formats/ico.h"
#include "formats/jpeg.h"
#include "formats/jxl.h"
#include "formats/metafile.h"
#include "formats/picture_file.h"
#include "raster/errors.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace plumora {
namespace {

namespace fs = std::filesystem;

TEST(Crashers, EveryKnownHostileInputIsRefusedOrDecoded)
{
    using Decoder = TBitmap32 (*)(const std::uint8_t*, std::size_t);
    const std::map<std::string, Decoder> readers = {{"bmp", decodeBmp},   {"ico", decodeIco}, {"gif", decodeGif},
                                                    {"jpeg", decodeJpeg}, {"wmf", decodeWmf}, {"emf", decodeEmf},
                                                    {"heif", decodeHeif}, {"jxl", decodeJxl}};
    const fs::path root = PLUMORA_CRASHERS;
    ASSERT_TRUE(fs::is_directory(root));
    int replayed = 0;
    for (const auto& [reader, decode] : readers) {
        if (!fs::is_directory(root / reader))
            continue;
        for (const auto& entry : fs::directory_iterator(root / reader)) {
            const std::vector<std::uint8_t> bytes = readWholeFile(entry.path().string());
            try {
                const TBitmap32 picture = decode(bytes.data(), bytes.size());
                EXPECT_FALSE(picture.empty()) << entry.path();
            } catch (const PlumoraError&) {
            }
            ++replayed;
        }
    }
    RecordProperty("replayed", replayed);
}

}  // namespace
}  // namespace plumora
