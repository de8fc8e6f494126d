#include "components/ui/FormSaver.h"
#include "platform/Registry.h"
#include "tests/components/FakeDesktopScreen.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kKey = "Software\\Pelk Software\\Vestrel\\Chat";

// A form class without an object name: its layout lives under the class name.
class TUnnamedForm : public QWidget {
    Q_OBJECT
};

// A main window named as the chat's, with two panels, at its design bounds.
struct Form {
    QWidget window;
    QWidget* panel1;
    QWidget* panel2;
    TFormSaver* saver;
    TFormNotifyEvent OnDestroy;

    explicit Form(DesktopScreen* screen) {
        window.setObjectName(u"ClientFrmMain"_s);
        saver = new TFormSaver(&window, screen);
        saver->regKey = QString::fromLatin1(kKey);
        panel1 = new QWidget(&window);
        panel1->setObjectName(u"Panel1"_s);
        panel1->setGeometry(0, 0, 365, 297);
        panel1->setProperty("Align", 1);
        panel2 = new QWidget(&window);
        panel2->setObjectName(u"Panel2"_s);
        panel2->setGeometry(0, 300, 365, 150);
        panel2->setProperty("Align", 5);
        saver->ChildToSave().Add().SetControl(panel1);
        saver->ChildToSave().Add().SetControl(panel2);
        window.move(345, 135);
        window.resize(365, 510);
    }
    // For cases that only check the restore: the saver is switched off afterwards, so closing the
    // form writes nothing.
    void restoreOnly() {
        saver->Loaded(&OnDestroy);
        saver->regKey.clear();
    }
    ~Form() {
        if (OnDestroy)
            OnDestroy(&window);
    }
};

// Stores one key's values as the registry file would hold them, in one write rather than one locked
// rewrite per value.
void writeForm(const QList<QPair<QByteArray, QByteArray>>& values, const QByteArray& subkey = "ClientFrmMain") {
    QFile hive(registryHiveFile(RegistryHive::CurrentUser));
    const bool fresh = !hive.exists();
    QVERIFY(hive.open(QIODevice::Append));
    QByteArray text = fresh ? QByteArray("REGEDIT4\r\n\r\n") : QByteArray();
    text += "[HKEY_CURRENT_USER\\" + kKey + '\\' + subkey + "]\r\n";
    for (const auto& [name, value] : values)
        text += '"' + name + "\"=\"" + value + "\"\r\n";
    QVERIFY(hive.write(text + "\r\n") > 0);
}

QStringList storedValues(const QByteArray& subkey) {
    Registry reg(RegistryHive::CurrentUser);
    QStringList result;
    if (!reg.OpenKey(kKey + '\\' + subkey, false))
        return result;
    const QByteArrayList names = reg.GetValueNames();
    for (const QByteArray& name : names)
        result << QString::fromLatin1(name + '=' + reg.ReadString(name));
    return result;
}

} // namespace

class TestFormSaver : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    test::FakeDesktopScreen m_screen;
    QStringList m_boxes;

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        qputenv("VESTREL_REGISTRY_DIR", m_dir->path().toLocal8Bit());
        qputenv("VESTREL_PROGRAM_DIR", m_dir->path().toLocal8Bit());
        m_screen = test::FakeDesktopScreen();
        m_boxes.clear();
        TFormSaver::ErrorBox() = [this](const QString& text) {
            m_boxes << text;
        };
    }

    void firstStartKeepsTheDesignOrTheFallbacks_data() {
        QTest::addColumn<QList<int>>("fallback"); // mLeft, mTop, mWidth, mheight
        QTest::addColumn<QRect>("bounds");
        QTest::newRow("design") << QList<int>{0, 0, 0, 0} << QRect(345, 135, 365, 510);
        QTest::newRow("fallbacks") << QList<int>{10, 20, 300, 400} << QRect(10, 20, 300, 400);
        QTest::newRow("only positive fallbacks") << QList<int>{-10, 0, 300, -1} << QRect(345, 135, 300, 510);
    }
    void firstStartKeepsTheDesignOrTheFallbacks() {
        QFETCH(QList<int>, fallback);
        QFETCH(QRect, bounds);
        Form form(&m_screen);
        form.saver->mLeft = fallback[0];
        form.saver->mTop = fallback[1];
        form.saver->mWidth = fallback[2];
        form.saver->mheight = fallback[3];
        form.restoreOnly();
        QCOMPARE(QRect(form.window.pos(), form.window.size()), bounds);
        QVERIFY(!Registry().KeyExists(kKey)); // restoring never creates the key
    }

    void savesDecimalStringsInOrderAndRestoresThem() {
        {
            Form form(&m_screen);
            form.saver->Loaded(&form.OnDestroy);
            form.window.move(100, 120);
            form.window.resize(400, 300);
            form.panel1->setGeometry(0, 0, 400, 150);
            form.panel2->hide();
        }
        QCOMPARE(storedValues("ClientFrmMain"), (QStringList{u"Left=100"_s, u"Top=120"_s, u"Width=400"_s,
                                                             u"Height=300"_s, u"MonitorNum=0"_s, u"WindowState=0"_s}));
        QCOMPARE(storedValues("ClientFrmMain\\Panel1"),
                 (QStringList{u"Left=0"_s, u"Top=0"_s, u"Width=400"_s, u"Height=150"_s, u"Align=1"_s, u"Visible=1"_s}));
        QCOMPARE(storedValues("ClientFrmMain\\Panel2").last(), u"Visible=0"_s);

        Form again(&m_screen);
        again.panel1->setProperty("Align", 0);
        again.restoreOnly();
        QCOMPARE(QRect(again.window.pos(), again.window.size()), QRect(100, 120, 400, 300));
        QCOMPARE(again.panel1->geometry(), QRect(0, 0, 400, 150));
        QCOMPARE(again.panel1->property("Align").toInt(), 1);
        QVERIFY(again.panel2->isHidden()); // hidden at close, hidden again
        QVERIFY(!again.panel1->isHidden());
    }

    void storedBoundsAreKeptOnTheScreen_data() {
        QTest::addColumn<QList<int>>("stored"); // Left, Top, Width, Height, MonitorNum
        QTest::addColumn<QRect>("bounds");
        QTest::newRow("1500 + 400 on a 1280 screen") << QList<int>{1500, 100, 400, 300, 0} << QRect(880, 100, 400, 300);
        QTest::newRow("below the bottom") << QList<int>{10, 900, 400, 300, 0} << QRect(10, 724, 400, 300);
        QTest::newRow("on monitor 1") << QList<int>{1500, 100, 400, 300, 1} << QRect(1500, 100, 400, 300);
        QTest::newRow("far off every screen, monitor 0")
            << QList<int>{-5000, -7000, 400, 300, 0} << QRect(0, 0, 400, 300);
        QTest::newRow("far off, monitor 1 gone") << QList<int>{9000, 9000, 400, 300, 1} << QRect(880, 724, 400, 300);
        QTest::newRow("larger than the screen") << QList<int>{0, 0, 5000, 4000, 0} << QRect(0, 0, 1280, 1024);
    }
    void storedBoundsAreKeptOnTheScreen() {
        QFETCH(QList<int>, stored);
        QFETCH(QRect, bounds);
        m_screen.screens = {QRect(0, 0, 1280, 1024), QRect(1280, 0, 1280, 1024)};
        writeForm({{"Left", QByteArray::number(stored[0])},
                   {"Top", QByteArray::number(stored[1])},
                   {"Width", QByteArray::number(stored[2])},
                   {"Height", QByteArray::number(stored[3])},
                   {"MonitorNum", QByteArray::number(stored[4])},
                   {"WindowState", "0"}});
        if (stored[4] == 1 && stored[0] == 9000)
            m_screen.screens = {QRect(0, 0, 1280, 1024)};
        Form form(&m_screen);
        form.restoreOnly();
        QCOMPARE(QRect(form.window.pos(), form.window.size()), bounds);
    }

    void windowStates_data() {
        QTest::addColumn<QByteArray>("code");
        QTest::addColumn<int>("state");
        QTest::addColumn<QRect>("bounds");
        QTest::newRow("normal") << QByteArray("0") << int(Qt::WindowNoState) << QRect(50, 60, 300, 200);
        // Maximised: the stored bounds are not applied.
        QTest::newRow("maximised") << QByteArray("1") << int(Qt::WindowMaximized) << QRect(345, 135, 365, 510);
        QTest::newRow("minimised") << QByteArray("2") << int(Qt::WindowMinimized) << QRect(50, 60, 300, 200);
        QTest::newRow("unknown code") << QByteArray("7") << int(Qt::WindowNoState) << QRect(50, 60, 300, 200);
    }
    void windowStates() {
        QFETCH(QByteArray, code);
        QFETCH(int, state);
        QFETCH(QRect, bounds);
        writeForm({{"Left", "50"},
                   {"Top", "60"},
                   {"Width", "300"},
                   {"Height", "200"},
                   {"MonitorNum", "0"},
                   {"WindowState", code}});
        Form form(&m_screen);
        form.restoreOnly();
        QCOMPARE(int(form.window.windowState()), state);
        QCOMPARE(QRect(form.window.pos(), form.window.size()), bounds);
    }

    void savedStateCodes() {
        {
            Form form(&m_screen);
            form.saver->Loaded(&form.OnDestroy);
            form.window.setWindowState(Qt::WindowMaximized);
        }
        QVERIFY(storedValues("ClientFrmMain").contains(u"WindowState=1"_s));
        {
            Form form(&m_screen);
            form.saver->Loaded(&form.OnDestroy);
            form.window.setWindowState(Qt::WindowMinimized);
        }
        QVERIFY(storedValues("ClientFrmMain").contains(u"WindowState=2"_s));
    }

    void garbageFallsBackToTheDesign() {
        writeForm({{"Left", "abc"},
                   {"Top", ""},
                   {"Width", "-40"},
                   {"Height", "0x"},
                   {"MonitorNum", "zz"},
                   {"WindowState", "\xff"}});
        writeForm({{"Left", "12"}, {"Width", "nope"}, {"Align", "99"}, {"Visible", "maybe"}}, "ClientFrmMain\\Panel1");
        Form form(&m_screen);
        form.restoreOnly();
        QCOMPARE(QRect(form.window.pos(), form.window.size()), QRect(345, 135, 365, 510));
        QCOMPARE(form.panel1->geometry(), QRect(12, 0, 365, 297));
        QCOMPARE(form.panel1->property("Align").toInt(), 6);
        QVERIFY(!form.panel1->isHidden());
    }

    void unwritableStoreSavesNothingAndStillCallsTheHandler() {
        // The registry folder is a plain file: nothing can be created in it.
        const QString blocked = m_dir->filePath(u"blocked"_s);
        QFile file(blocked);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        qputenv("VESTREL_REGISTRY_DIR", blocked.toLocal8Bit());
        int previousCalls = 0;
        QObject* sender = nullptr;
        {
            Form form(&m_screen);
            form.OnDestroy = [&](QObject* s) {
                ++previousCalls;
                sender = s;
            };
            form.saver->Loaded(&form.OnDestroy);
            form.window.move(1, 2);
        }
        QCOMPARE(previousCalls, 1);
        QVERIFY(sender != nullptr);
    }

    void savedWithTheFormWhenNoHandlerIsTakenOver() {
        {
            Form form(&m_screen);
            form.saver->Loaded();
            form.window.move(70, 80);
        }
        QVERIFY(storedValues("ClientFrmMain").contains(u"Left=70"_s));
        QVERIFY(storedValues("ClientFrmMain\\Panel1").contains(u"Align=1"_s));

        // By then the form is only a QWidget: the name it was restored under is the one saved.
        {
            auto* form = new TUnnamedForm;
            auto* saver = new TFormSaver(form, &m_screen);
            saver->regKey = QString::fromLatin1(kKey);
            saver->Loaded();
            form->move(90, 100);
            delete form;
        }
        QVERIFY(storedValues("TUnnamedForm").contains(u"Left=90"_s));
    }

    void controlChecks() {
        QWidget window;
        QWidget a(&window);
        QWidget b(&window);
        a.setObjectName(u"Panel1"_s);
        TFormSaver saver(&window, &m_screen);
        TControlItem& first = saver.ChildToSave().Add();
        TControlItem& second = saver.ChildToSave().Add();
        QCOMPARE(first.GetDisplayName(), u"TControlItem"_s);
        first.SetControl(&a);
        second.SetControl(&b);
        QCOMPARE(first.GetDisplayName(), u"Panel1"_s);
        QCOMPARE(second.GetDisplayName(), u"QWidget"_s);
        try {
            second.SetControl(nullptr);
            QFAIL("no exception");
        } catch (const ControlListError& e) {
            QCOMPARE(QString::fromLatin1(e.what()), u"You cannot set Control to nil"_s);
        }
        try {
            second.SetControl(&a);
            QFAIL("no exception");
        } catch (const ControlListError& e) {
            QCOMPARE(QString::fromLatin1(e.what()), u"Control already exists in list."_s);
        }
        QCOMPARE(second.Control(), &b);
        QVERIFY_THROWS_EXCEPTION(ControlListError, first.AssignTo(second));
        first.SetControl(&a); // setting an item's own control again is allowed
    }

    void onlyOneSaverPerForm() {
        QWidget window;
        QPointer<TFormSaver> first = new TFormSaver(&window, &m_screen);
        QPointer<TFormSaver> second = new TFormSaver(&window, &m_screen);
        QPointer<TFormSaver> third = new TFormSaver(&window, &m_screen);
        QCOMPARE(m_boxes.size(), 2);
        QCOMPARE(m_boxes.first(), u"Sorry, but only one component of this type allowed.\n"
                                  "Previous components of this type will be deleted."_s);
        QCOMPARE(window.findChildren<TFormSaver*>(), QList<TFormSaver*>{third.data()});
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(first.isNull() && second.isNull() && !third.isNull());
    }

    void destroyHandlerOutlivesARemovedSaver() {
        int previousCalls = 0;
        {
            Form form(&m_screen);
            form.OnDestroy = [&](QObject*) {
                ++previousCalls;
            };
            form.saver->Loaded(&form.OnDestroy);
            new TFormSaver(&form.window, &m_screen); // takes the loaded one off the form and frees it
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        QCOMPARE(previousCalls, 1);
        QVERIFY(storedValues("ClientFrmMain").isEmpty()); // the removed saver saves nothing
    }
};

QTEST_MAIN(TestFormSaver)
#include "test_formsaver.moc"
