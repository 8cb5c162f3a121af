// Our WMF files must show in other programs too: libwmf (Debian's
// libwmf-bin), an independent reader, draws one back to a PNG here.

#include "formats/metafile.h"
#include "support/pictures.h"
#include "support/temp_folder.h"

#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace plumora {
namespace {

class WmfInterop : public test::TempFolderTest {};

TEST_F(WmfInterop, AnIndependentReaderDrawsOurMetafile)
{
    const QString converter = QStandardPaths::findExecutable(QStringLiteral("wmf2gd"));
    if (converter.isEmpty())
        GTEST_SKIP() << "wmf2gd (libwmf-bin) is not installed";
    // Four flat quarters, so that any scaling the reader does keeps the colours.
    TBitmap32 p(40, 30);
    const std::uint32_t colours[4] = {0xFFD03020, 0xFF20A040, 0xFF2040D0, 0xFFF0E020};
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            test::setPixel(p, x, y, colours[(y >= 15) * 2 + (x >= 20)]);
    const std::vector<std::uint8_t> wmf = encodeWmf(p);
    std::ofstream(path("p.wmf"), std::ios::binary)
        .write(reinterpret_cast<const char*>(wmf.data()), std::streamsize(wmf.size()));
    QProcess run;
    run.start(converter, {"-t", "png", "--maxwidth=40", "--maxheight=30", "--maxsize", "-o",
                          QString::fromStdString(path("p.png")), QString::fromStdString(path("p.wmf"))});
    ASSERT_TRUE(run.waitForFinished(30000));
    ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    const QImage shown(QString::fromStdString(path("p.png")));
    ASSERT_EQ(shown.size(), QSize(40, 30));
    // The middle of each quarter has its colour.
    const QPoint centres[4] = {{10, 7}, {30, 7}, {10, 22}, {30, 22}};
    for (int q = 0; q < 4; ++q) {
        const QRgb got = shown.pixel(centres[q]);
        EXPECT_NEAR(qRed(got), int(colours[q] >> 16 & 0xFF), 8) << q;
        EXPECT_NEAR(qGreen(got), int(colours[q] >> 8 & 0xFF), 8) << q;
        EXPECT_NEAR(qBlue(got), int(colours[q] & 0xFF), 8) << q;
    }
}

}  // namespace
}  // namespace plumora
