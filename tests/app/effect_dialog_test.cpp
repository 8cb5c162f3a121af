// The effect window built from a declaration, for the kinds of controls the
// sketches do not use: a grid of number boxes with a "Default" button, a
// colour swatch, a declared Tab order, and a slider read about its centre
// that goes back to it on every showing.

#include "app/effect_windows/effect_dialog.h"
#include "app/messages.h"
#include "document/document.h"
#include "support/pictures.h"
#include "support/tab_order.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <climits>

using namespace plumora;

namespace {

class Host : public EffectHost {
public:
    Document doc{test::uniformPicture(6, 5, 10, 20, 30, 255)};
    int colorUps = 0;
    Document& document() override { return doc; }
    void colorUp() override { ++colorUps; }
};

// An effect that writes what it was given into the first pixel: the sum of
// its weights into blue, the colour's red into green, the centre reading
// into red.
EffectDeclaration weightsEffect()
{
    ParamDeclaration kernel;
    kernel.key = "kernel";
    kernel.caption = "Weights";
    kernel.kind = ParamKind::Grid;
    kernel.min = INT_MIN;
    kernel.max = INT_MAX;
    kernel.defaultGrid = {1, 2, 1, 0, 0, 0, -1, -1, -1};

    ParamDeclaration colour;
    colour.key = "color";
    colour.caption = "Color";
    colour.kind = ParamKind::Colour;
    colour.defaultValue = 0x000000;

    ParamDeclaration hue;
    hue.key = "hue";
    hue.caption = "Hue";
    hue.kind = ParamKind::Slider;
    hue.min = 0;
    hue.max = 360;
    hue.defaultValue = 180;

    EffectDeclaration e;
    e.name = "weights";
    e.summary = "test";
    e.menu = EffectMenu::Colour;
    e.historyLabel = "Weighted";
    e.params = {kernel, colour, hue};
    e.algorithm = [](const TBitmap32& source, const EffectValues& v, EffectContext&) {
        TBitmap32 r = source;
        int sum = 0;
        for (int k : v.list("kernel"))
            sum += k;
        std::uint8_t* p = r.ScanLine(0);
        p[0] = std::uint8_t(sum);
        p[1] = std::uint8_t(v.get("color") >> 16);
        p[2] = std::uint8_t(v.get("hue") / 2);
        return r;
    };
    return e;
}

// Its window: the number boxes under a note, the swatch, and the slider
// read about its centre, which goes back to it on every showing.
EffectWindow weightsWindow()
{
    ParamLayout kernel{.key = "kernel",
                       .captionLabel = "Label1",
                       .controls = {},
                       .caption = "You can change the figures",
                       .hint = "Change the number to get different effect"};
    for (int i = 1; i <= 9; ++i)
        kernel.controls.push_back("Edit" + std::to_string(i));
    ParamLayout colour{.key = "color", .controls = {"ColorPanel"}, .hint = "Select a color from ColorPanel"};
    ParamLayout hue{.key = "hue",
                    .captionLabel = "Label1b",
                    .valueLabel = "Label4",
                    .controls = {"TrackBar1"},
                    .reading = {.origin = 180, .percentOf = 180},
                    .resetOnShow = true};
    return {.command = "weights",
            .className = "TWeights",
            .caption = "Weights",
            .height = 240,
            .colour = WindowColour::InactiveCaption,
            .buttons = {{"Button1", "Convert", "Convert with this setup", false},
                        {"Button3", "Default", "Default setup", true}},
            .tabOrder = {"Button1", "Button3", "Edit1", "Edit2", "Edit3", "Edit6", "Edit5", "Edit4", "Edit7", "Edit8",
                         "Edit9"},
            .params = {kernel, colour, hue},
            .id = EffectDialogId(6)};
}

}  // namespace

class EffectDialogTest : public QObject {
    Q_OBJECT

    std::vector<ShownMessage> m_messages;

    template <class W>
    static W* child(QWidget* d, const char* name)
    {
        W* w = d->findChild<W*>(QString::fromLatin1(name));
        if (!w)
            qFatal("no %s", name);
        return w;
    }

    static std::uint32_t firstPixel(const Document& doc) { return test::pixelAt(doc.displayed(), 0, 0); }

private slots:
    void init()
    {
        m_messages.clear();
        setMessageSink([this](const ShownMessage& m) { m_messages.push_back(m); });
    }

    void cleanup() { setMessageSink({}); }

    void gridBoxesAreReadOnEveryClickAndDefaultPutsThemBack()
    {
        Host host;
        const EffectDeclaration declared = weightsEffect();
        const EffectWindow window = weightsWindow();
        EffectDialog d(declared, window, host, nullptr);
        d.build();
        d.show();
        QCOMPARE(d.size(), QSize(266, 240));
        QCOMPARE(d.palette().color(QPalette::Window), QColor(191, 205, 219));
        QCOMPARE(host.doc.openDialog(), EffectDialogId(6));
        QCOMPARE(child<QLabel>(&d, "Label1")->text(), QStringLiteral("You can change the figures"));
        QCOMPARE(child<QLineEdit>(&d, "Edit7")->text(), QStringLiteral("-1"));
        QCOMPARE(child<QPushButton>(&d, "Button3")->toolTip(), QStringLiteral("Default setup"));

        auto* centre = child<QLineEdit>(&d, "Edit5");
        centre->selectAll();
        QTest::keyClicks(centre, QStringLiteral(" 7 "));  // blanks around a number are forgiven
        QTest::mouseClick(child<QPushButton>(&d, "Button1"), Qt::LeftButton);
        QCOMPARE(firstPixel(host.doc) & 0xFF, 8u);  // 1 + 2 + 1 + 7 - 3
        QCOMPARE(host.doc.label(), std::string("Weighted"));
        QCOMPARE(host.doc.undoCount(), 1);

        // A box that holds no number stops the click, and nothing changes.
        child<QLineEdit>(&d, "Edit2")->setText(QStringLiteral("2x"));
        const TBitmap32 before = host.doc.displayed();
        QTest::mouseClick(child<QPushButton>(&d, "Button1"), Qt::LeftButton);
        QCOMPARE(m_messages.size(), std::size_t(1));
        QCOMPARE(m_messages[0].text, QStringLiteral("'2x' is not a valid integer value"));
        QVERIFY(host.doc.displayed() == before);
        QCOMPARE(host.doc.undoCount(), 1);

        // "Default" writes the default numbers back, then applies them.
        QTest::mouseClick(child<QPushButton>(&d, "Button3"), Qt::LeftButton);
        QCOMPARE(child<QLineEdit>(&d, "Edit2")->text(), QStringLiteral("2"));
        QCOMPARE(child<QLineEdit>(&d, "Edit5")->text(), QStringLiteral("0"));
        QCOMPARE(firstPixel(host.doc) & 0xFF, 1u);
        QCOMPARE(host.doc.undoCount(), 2);
        QCOMPARE(m_messages.size(), std::size_t(1));

        // Shown again, the boxes keep what was typed.
        child<QLineEdit>(&d, "Edit9")->setText(QStringLiteral("4"));
        d.close();
        QCOMPARE(host.doc.openDialog(), EffectDialogId::None);
        d.show();
        QCOMPARE(child<QLineEdit>(&d, "Edit9")->text(), QStringLiteral("4"));
    }

    void tabVisitsTheControlsInTheDeclaredOrder()
    {
        Host host;
        const EffectDeclaration declared = weightsEffect();
        const EffectWindow window = weightsWindow();
        EffectDialog d(declared, window, host, nullptr);
        d.build();
        const char* order[] = {"Button1", "Button3", "Edit1", "Edit2", "Edit3", "Edit6", "Edit5", "Edit4"};
        for (std::size_t i = 1; i < std::size(order); ++i)
            QCOMPARE(test::nextTabStop(child<QWidget>(&d, order[i - 1])), child<QWidget>(&d, order[i]));
    }

    void theSwatchTakesTheChosenColourAndKeepsItOnCancel()
    {
        Host host;
        const EffectDeclaration declared = weightsEffect();
        const EffectWindow window = weightsWindow();
        EffectDialog d(declared, window, host, nullptr);
        d.build();
        d.show();
        auto* swatch = child<QWidget>(&d, "ColorPanel");
        QCOMPARE(swatch->toolTip(), QStringLiteral("Select a color from ColorPanel"));
        QColor offered;
        d.setColourChooser([&](const QColor& current, QWidget*) {
            offered = current;
            return std::optional<QColor>(QColor(0xC8, 0x64, 0x32));
        });
        QTest::mouseClick(swatch, Qt::LeftButton);
        QCOMPARE(offered, QColor(0, 0, 0));
        QCOMPARE(d.values().get("color"), 0xC86432);
        QCOMPARE(swatch->palette().color(QPalette::Window), QColor(0xC8, 0x64, 0x32));

        d.setColourChooser([&](const QColor& current, QWidget*) {
            offered = current;
            return std::optional<QColor>();
        });
        QTest::mouseClick(swatch, Qt::LeftButton);
        QCOMPARE(offered, QColor(0xC8, 0x64, 0x32));  // the dialog starts from the current colour
        QCOMPARE(d.values().get("color"), 0xC86432);
        QTest::mouseClick(child<QPushButton>(&d, "Button1"), Qt::LeftButton);
        QCOMPARE((firstPixel(host.doc) >> 8) & 0xFF, 0xC8u);
    }

    void aSliderThatResetsOnShowReadsAboutItsCentre()
    {
        Host host;
        const EffectDeclaration declared = weightsEffect();
        const EffectWindow window = weightsWindow();
        EffectDialog d(declared, window, host, nullptr);
        d.build();
        d.show();
        auto* hue = child<QSlider>(&d, "TrackBar1");
        auto* reading = child<QLabel>(&d, "Label4");
        QCOMPARE(reading->text(), QStringLiteral("0"));
        hue->setValue(1);
        QCOMPARE(reading->text(), QStringLiteral("-99"));  // Round(-99.44)
        QTest::mouseClick(child<QPushButton>(&d, "Button1"), Qt::LeftButton);
        QCOMPARE((firstPixel(host.doc) >> 16) & 0xFF, 0u);
        d.close();
        d.show();
        QCOMPARE(hue->value(), 180);
        QCOMPARE(reading->text(), QStringLiteral("0"));
    }
};

QTEST_MAIN(EffectDialogTest)
#include "effect_dialog_test.moc"
