// Recipes in the window: what the real controls did is saved as a recipe,
// and plumora-cli (and Python, where the module is built for it) make the
// same bytes from it; a recipe applied in the window makes one step per
// operation; what cannot be repeated is refused with a message.

#include "app/image_size_dialog.h"
#include "app/recipe_commands.h"
#include "support/main_window_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>

using namespace plumora;

namespace {

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

QByteArray contents(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class RecipesWindowTest : public QObject, protected test::MainWindowFixture {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_input;

    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    void clickFirstButton(EffectDialog* d)
    {
        QTest::mouseClick(child<QPushButton>(d, qs(d->window().buttons.front().objectName)), Qt::LeftButton);
    }

    // What a user does: a quarter turn, a new width with the proportions
    // held, a pen sketch at pressure 150, a colour filter on the sketch
    // ("For current").
    void makeAPicture()
    {
        QTest::mouseClick(m_main->rotateClockwiseButton, Qt::LeftButton);
        m_main->imageSizeAction->trigger();
        auto* size = m_main->findChild<ImageSizeDialog*>(QStringLiteral("TImage_size"));
        QVERIFY(size->keepProportionsBox->isChecked());
        size->widthEdit->clear();
        QTest::keyClicks(size->widthEdit, QStringLiteral("23"));
        QTest::mouseClick(size->okButton, Qt::LeftButton);
        EffectDialog* pen = openEffect("pen-sketch");
        pen->findChild<QSlider*>()->setValue(150);
        clickFirstButton(pen);
        EffectDialog* filter = openEffect("color-filter");
        QTest::mouseClick(child<QCheckBox>(filter, "CheckBox1"), Qt::LeftButton);
        QTest::mouseClick(child<QWidget>(filter, "Panel7"), Qt::LeftButton);
        clickFirstButton(filter);
        QCOMPARE(doc().undoCount(), 3);  // the turn restarts the history
    }

    void saveRecipeAs(const QString& name)
    {
        m_main->setRecipeFileChooser([name](MainWindow::RecipeFileUse, const QString&) { return name; });
        m_main->saveRecipeAction->trigger();
    }

    static QByteArray run(const QString& program, const QStringList& arguments, const QStringList& environment = {})
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& setting : environment)
            env.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            qFatal("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
        return process.readAllStandardOutput();
    }

private slots:
    void init()
    {
        openWindows();
        QVERIFY(m_dir.isValid());
        m_input = path("photo.bmp");
        TBitmap32 picture = test::randomPicture(40, 30, 21);
        FillAlpha(picture, 255);
        savePicture(picture, m_input.toStdString());
        m_main->setOpenFileChooser([this] { return m_input; });
        m_main->openAction->trigger();
    }
    void cleanup() { closeWindows(); }

    void theWindowsPictureIsWhatTheBatchMakesFromItsRecipe()
    {
        makeAPicture();
        const QString recipe = path("look.plumora-recipe");
        saveRecipeAs(path("look"));  // the extension comes by itself
        QVERIFY2(m_messages.empty(), m_messages.empty() ? "" : qPrintable(m_messages.front().text));
        const QByteArray saved = contents(recipe);
        QVERIFY(saved.contains("\"turn\": \"clockwise\""));
        QVERIFY(saved.contains("\"scale\""));
        QVERIFY(saved.contains("\"for-current\": true"));
        QVERIFY(!saved.contains("\"emboss\""));

        const QString window = path("window.bmp");
        savePicture(doc().displayed(), window.toStdString());
        const QString cli = path("cli.bmp");
        run(QStringLiteral(PLUMORA_CLI), {QStringLiteral("recipe"), recipe, m_input, cli});
        QCOMPARE(contents(cli), contents(window));
#ifdef PLUMORA_PYTHON_DIR
        const QString python = path("python.bmp");
        run(QStringLiteral(PLUMORA_PYTHON),
            {QStringLiteral("-c"),
             QStringLiteral("import sys, plumora; r = plumora.Recipe.load(sys.argv[1]); "
                            "plumora.write(sys.argv[3], r.apply(plumora.read(sys.argv[2])))"),
             recipe, m_input, python},
            {QStringLiteral("PYTHONPATH=" PLUMORA_PYTHON_DIR)});
        QCOMPARE(contents(python), contents(window));
#endif

        // Saved again after loading, the file is the same.
        QCOMPARE(qs(recipeJson(readRecipeFile(recipe.toStdString()))).toUtf8(), saved);

        // Undo takes the recipe back with the picture: without the filter.
        m_main->undoButton->click();
        saveRecipeAs(recipe);
        QVERIFY(!contents(recipe).contains("for-current"));
    }

    void aRecipeAppliedInTheWindowMakesOneStepPerOperation()
    {
        makeAPicture();
        const TBitmap32 made = doc().displayed();
        const QString recipe = path("look.plumora-recipe");
        saveRecipeAs(recipe);
        m_main->revertButton->click();
        m_main->setRecipeFileChooser([recipe](MainWindow::RecipeFileUse use, const QString&) {
            return use == MainWindow::RecipeFileUse::Apply ? recipe : QString();
        });
        m_main->applyRecipeAction->trigger();
        QVERIFY(doc().displayed() == made);
        QCOMPARE(doc().undoCount(), 3);
        QCOMPARE(doc().label(), std::string("Color Filter"));
        m_main->undoButton->click();
        QCOMPARE(doc().label(), std::string("Undo"));
        QVERIFY(m_messages.empty());
    }

    void aRecipeFileOpenedOrDroppedIsAppliedToThePicture()
    {
        Recipe recipe;
        recipe.steps.push_back(RecipeEffect{findEffect("emboss"), findEffect("emboss")->defaults(), false});
        const QString file = path("emboss.plumora-recipe");
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QByteArray::fromStdString(recipeJson(recipe)));
        out.close();
        m_main->openNamedPicture(file);
        QCOMPARE(doc().undoCount(), 1);
        EffectContext context;
        QVERIFY(doc().displayed() == applyRecipe(recipe, doc().source(), context));
    }

    void whatCannotBeRepeatedIsRefusedAndChangesNothing()
    {
        // Coloured by hand.
        EffectDialog* pen = openEffect("pen-sketch");
        clickFirstButton(pen);
        doc().applyResult(doc().displayed(), std::string("Color up"));
        const QString recipe = path("hand.plumora-recipe");
        saveRecipeAs(recipe);
        QVERIFY(!QFile::exists(recipe));
        QCOMPARE(m_messages.size(), std::size_t(1));
        QCOMPARE(m_messages.back().text,
                 QStringLiteral("The picture was coloured by hand; a recipe cannot repeat that."));

        // A hostile file: a message naming it, the document as it was.
        const QString bad = path("bad.plumora-recipe");
        QFile out(bad);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("{\"plumora-recipe\": 1, \"steps\": [{\"effect\": \"pen-sketch\", \"pressure\": 1e308}]}");
        out.close();
        const int steps = doc().undoCount();
        m_main->setRecipeFileChooser([bad](MainWindow::RecipeFileUse, const QString&) { return bad; });
        m_main->applyRecipeAction->trigger();
        QCOMPARE(doc().undoCount(), steps);
        QCOMPARE(m_messages.size(), std::size_t(2));
        QVERIFY(m_messages.back().text.contains(bad));
    }

    void copyAsCommandGivesPlumoraCliTheSameWork()
    {
        EffectDialog* pen = openEffect("pen-sketch");
        pen->findChild<QSlider*>()->setValue(140);
        clickFirstButton(pen);
        m_main->copyAsCommandAction->trigger();
        const QString command = QGuiApplication::clipboard()->text();
        QVERIFY2(command.startsWith(QStringLiteral("plumora-cli pen-sketch --pressure 140 ")), qPrintable(command));
        QVERIFY(command.contains(m_input));

        // More than one step: the recipe itself, on the command line.
        QTest::mouseClick(m_main->rotateClockwiseButton, Qt::LeftButton);
        m_main->copyAsCommandAction->trigger();
        QVERIFY(QGuiApplication::clipboard()->text().startsWith(QStringLiteral("plumora-cli recipe --json '{")));
    }
};

QTEST_MAIN(RecipesWindowTest)
#include "recipes_window_test.moc"
