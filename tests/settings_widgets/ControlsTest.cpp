#include "settings/zorControls.h"

#include "common/Program.h"
#include "settings/RegistryVariables.h"
#include "settings/SettingsSandbox.h"

#include <QFile>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

namespace vantorel {
namespace {

constexpr const char* kKeyHeader = "Windows Registry Editor Version 5.00\n\n"
                                   "[HKEY_CURRENT_USER\\Software\\Corvane\\vantorel]\n";

// The three persisted controls as the window makes them, with the window's defaults.
struct WindowControls {
    WindowControls() {
        keplerPath.setObjectName("KeplerPath");
        lineThickness.setObjectName("LineThickness");
        lineThickness.SetItems({"Thin", "Normal", "Thick"});
        lineThickness.SetItemIndex(kDefaultLineThickness);
        lineColour.setObjectName("LineColour");
        lineColour.SetColor(kDefaultLineColour);
    }
    void Loaded() {
        keplerPath.Loaded();
        lineThickness.Loaded();
        lineColour.Loaded();
    }

    TzorEdit keplerPath;
    TzorRadioGroup lineThickness;
    TzorColorDialog lineColour;
};

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QList<QRadioButton*> Buttons(const TzorRadioGroup& group) {
    return group.findChildren<QRadioButton*>();
}

} // namespace

class ControlsTest : public QObject {
    Q_OBJECT

private:
    QString UserFile() const {
        return QString::fromStdString(dir_->Folder() + "HKEY_CURRENT_USER.reg");
    }

    QByteArray UserFileText() const {
        QFile file(UserFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    void WriteUserFile(const QByteArray& values) const {
        QFile file(UserFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(kKeyHeader) + values);
    }

    std::unique_ptr<TSettingsSandbox> dir_;
    std::optional<ScopedExecutablePath> executable_;

private slots:
    // Every test gets a registry of its own, seen as the window's.
    void init() {
        dir_ = std::make_unique<TSettingsSandbox>();
        executable_.emplace("/opt/vantorel/bin/vantorel");
        ResetRegistrySettings();
    }

    void cleanup() {
        executable_.reset();
        dir_.reset();
        ResetRegistrySettings();
    }

    void firstStartShowsTheDefaultsAndWritesOnChangeAndAtDestruction() {
        {
            WindowControls window;
            window.Loaded();
            QCOMPARE(window.keplerPath.text(), QString());
            QCOMPARE(window.lineThickness.ItemIndex(), 1);
            QCOMPARE(window.lineColour.Color(), 65535);
            QCOMPARE(window.lineColour.QtColor(), QColor(Qt::yellow));

            QVERIFY(!QFile::exists(UserFile())); // loading writes nothing
            window.keplerPath.setText("/data/kepler");
            window.lineThickness.SetItemIndex(2);
            // A new choice is written at once; typed text when the editing is finished.
            QVERIFY(UserFileText().contains("\"LineThickness\"=dword:00000002\n"));
            QVERIFY(!UserFileText().contains("KeplerPath"));
            emit window.keplerPath.editingFinished();
            QVERIFY(UserFileText().contains("\"KeplerPath\"=\"/data/kepler\"\n"));
        }
        const QByteArray text = UserFileText();
        QVERIFY2(text.contains("\"KeplerPath\"=\"/data/kepler\"\n"), text.constData());
        QVERIFY2(text.contains("\"LineThickness\"=dword:00000002\n"), text.constData());
        QVERIFY2(text.contains("\"LineColour\"=dword:0000ffff\n"), text.constData());
    }

    void storedValuesAreShownByTheNextRun() {
        {
            WindowControls window;
            window.Loaded();
            QTest::keyClicks(&window.keplerPath, "/srv/tle");
            window.lineThickness.SetItemIndex(0);
            window.lineColour.SetChooser(
                [](const QColor&, QWidget*) { return std::optional(QColor(0x12, 0x34, 0x56)); });
            QVERIFY(window.lineColour.Execute(nullptr));
        }
        auto next = std::make_unique<WindowControls>();
        next->Loaded();
        QCOMPARE(next->keplerPath.text(), QString("/srv/tle"));
        QCOMPARE(next->lineThickness.ItemIndex(), 0);
        QVERIFY(Buttons(next->lineThickness).at(0)->isChecked());
        QCOMPARE(next->lineColour.Color(), 0x563412);

        // Emptied and unchosen are values too, read back by plain variables of the names.
        next->keplerPath.setText("");
        next->lineThickness.SetItemIndex(-1);
        next->lineColour.SetColor(0);
        next.reset();
        QCOMPARE(Text(TRegistryString("KeplerPath", "x").Value()), QString());
        QCOMPARE(TRegistryInteger("LineThickness", 7).Value(), -1);
        QCOMPARE(TRegistryInteger("LineColour", 7).Value(), 0);
    }

    void theValueNameIsNamedAsOrElseTheObjectName() {
        {
            TzorEdit byObjectName;
            byObjectName.setObjectName("KeplerPath");
            TzorEdit byNamedAs;
            byNamedAs.setObjectName("edtOther");
            byNamedAs.setProperty("NamedAs", "OtherPath");
            TzorColorDialog nameless;
            nameless.SetColor(5);
            byObjectName.setText("a");
            byNamedAs.setText("b");
            byObjectName.Loaded();
            byNamedAs.Loaded();
            nameless.Loaded();
            QCOMPARE(Text(byObjectName.ValueName()), QString("KeplerPath"));
            QCOMPARE(Text(byNamedAs.ValueName()), QString("OtherPath"));
            QCOMPARE(Text(nameless.ValueName()), QString(""));
            QCOMPARE(nameless.Color(), 5);
        }
        QCOMPARE(Text(TRegistryString("KeplerPath", "").Value()), QString("a"));
        QCOMPARE(Text(TRegistryString("OtherPath", "").Value()), QString("b"));
        QVERIFY(!UserFileText().contains("edtOther"));
        QVERIFY(!UserFileText().contains("@="));
    }

    void theRadioGroupClicksOnAChoiceButNotOnLoading() {
        TRegistryInteger("LineThickness", 0).SetValue(2); // written as the variable goes
        TzorRadioGroup group;
        group.setObjectName("LineThickness");
        group.SetItems({"Thin", "Normal", "Thick"});
        group.SetItemIndex(1);
        QSignalSpy clicks(&group, &TzorRadioGroup::Click);

        group.Loaded();
        QCOMPARE(group.ItemIndex(), 2);
        QCOMPARE(clicks.count(), 0);

        group.show();
        QVERIFY(QTest::qWaitForWindowExposed(&group));
        QTest::mouseClick(Buttons(group).at(0), Qt::LeftButton);
        QCOMPARE(group.ItemIndex(), 0);
        QCOMPARE(clicks.count(), 1);
        QTest::mouseClick(Buttons(group).at(0), Qt::LeftButton); // already chosen
        QCOMPARE(clicks.count(), 1);

        group.SetItemIndex(1);
        QCOMPARE(clicks.count(), 2);
        group.SetItemIndex(-1);
        QCOMPARE(group.ItemIndex(), -1);
        group.SetItemIndex(3); // no such item
        QCOMPARE(group.ItemIndex(), -1);
        QCOMPARE(clicks.count(), 2);

        // A second Loaded neither reloads nor clicks.
        group.Loaded();
        QCOMPARE(group.ItemIndex(), -1);
        QCOMPARE(clicks.count(), 2);
    }

    void aStoredIndexOutsideTheItemsKeepsTheChoice_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("past the end") << QByteArray("dword:00000003");
        QTest::newRow("negative") << QByteArray("dword:fffffff6");
        QTest::newRow("text") << QByteArray("\"2\"");
    }

    void aStoredIndexOutsideTheItemsKeepsTheChoice() {
        QFETCH(QByteArray, stored);
        WriteUserFile("\"LineThickness\"=" + stored + "\n");
        {
            TzorRadioGroup group;
            group.setObjectName("LineThickness");
            group.SetItems({"Thin", "Normal", "Thick"});
            group.SetItemIndex(kDefaultLineThickness);
            QSignalSpy clicks(&group, &TzorRadioGroup::Click);
            group.Loaded();
            QCOMPARE(group.ItemIndex(), 1);
            QCOMPARE(clicks.count(), 0);
        }
        // The choice shown is the one written back.
        QCOMPARE(TRegistryInteger("LineThickness", 7).Value(), 1);
    }

    void theColourDialogTakesTheChoiceOnlyOnOk() {
        {
            TzorColorDialog dialog;
            dialog.setObjectName("LineColour");
            dialog.SetColor(kDefaultLineColour);
            dialog.Loaded();

            QColor offered;
            dialog.SetChooser([&offered](const QColor& initial, QWidget*) {
                offered = initial;
                return std::optional<QColor>();
            });
            QVERIFY(!dialog.Execute(nullptr));
            QCOMPARE(offered, QColor(Qt::yellow));
            QCOMPARE(dialog.Color(), kDefaultLineColour);

            dialog.SetChooser(
                [](const QColor&, QWidget*) { return std::optional(QColor(Qt::red)); });
            QVERIFY(!QFile::exists(UserFile())); // a cancelled choice writes nothing
            QVERIFY(dialog.Execute(nullptr));
            QCOMPARE(dialog.Color(), 0x0000ff);
            QVERIFY(UserFileText().contains("\"LineColour\"=dword:000000ff\n"));
        }
        QVERIFY(UserFileText().contains("\"LineColour\"=dword:000000ff\n"));
    }

    void windowsColourValuesHaveRedInTheLowByte() {
        QCOMPARE(QColorFromWindowsColor(0x00ff0000), QColor(Qt::blue));
        QCOMPARE(QColorFromWindowsColor(0x0000ff00), QColor(Qt::green));
        QCOMPARE(WindowsColorFromQColor(QColor(0x12, 0x34, 0x56, 0x78)), 0x00563412);
        QCOMPARE(WindowsColorFromQColor(QColorFromWindowsColor(0x00abcdef)), 0x00abcdef);
    }
};

} // namespace vantorel

QTEST_MAIN(vantorel::ControlsTest)
#include "ControlsTest.moc"
