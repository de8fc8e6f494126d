// VERicorr on a real X screen without window manager or panel (bare Xvfb): the popups fall back to the
// bottom edge of the whole screen. Screenshots go to $VESTREL_SCREENSHOT_DIR when it is set.

#include "components/csLocale.h"
#include "reminders/ui/MsMsg.h"
#include "reminders/ui/RicorrImp.h"
#include "reminders/ui/VERicorrMain.h"
#include "tests/fb/SchemaDatabase.h"
#include "tests/reminders/VERicorrTestSupport.h"
#include "tests/support/RealDesktop.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <algorithm>

using namespace vestrel;
using namespace vestrel::reminders;
using namespace vestrel::testing;
using namespace Qt::StringLiterals;

class TestVERicorrX11 : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void threePopupsStackFromTheBottomRightAndOpenTheMessageWindow();
    void editorWindow();

private:
    QTemporaryDir m_dir;
    QByteArray m_path;
};

void TestVERicorrX11::initTestCase() {
    QVERIFY2(onRealDisplay(), "needs a real X display (run under run-under-xvfb.sh)");
    QVERIFY(m_dir.isValid());
    useTestFolders(m_dir);
    const QDir bin(qEnvironmentVariable("VESTREL_BIN_DIR"));
    QFile::copy(bin.filePath(u"VE_ita.dll"_s), m_dir.filePath(u"VE_ita.dll"_s));
    csLocale::setLanguageChooser([] { return 0; });
    m_path = QFile::encodeName(m_dir.filePath(u"office.fdb"_s));
    createSchemaDatabase(m_path);
    QFile config(m_dir.filePath(u"config.ini"_s));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("[Database]\r\nFile=" + m_path + "\r\nuser=SYSDBA\r\npwd=x\r\n");
    config.close();
    storeReminders(m_path, SchemaUser,
                   {{1, 1, {}, "Controllare la PEC", "Ogni giorno: aprire la casella PEC e protocollare."},
                    {2, 0, {}, "Benvenuti in Vestrel", "Questo promemoria compare finch\xe9 non viene nascosto."},
                    {3, 4, "0 0", "Rinnovo assicurazione", "Il primo gennaio scade la polizza dell'ufficio."}});
}

void TestVERicorrX11::threePopupsStackFromTheBottomRightAndOpenTheMessageWindow() {
    RecordingBoxes boxes;
    FixedClock clock(QDate(2024, 3, 15));
    TForm1 form(boxes, clock);
    bool windowShown = false;
    QRect windowGeometry;
    form.ShowMessageWindow = [&](TMsMsgFrm& window) -> int {
        window.show();
        windowShown = QTest::qWaitForWindowExposed(&window);
        QTest::qWait(200);
        windowGeometry = window.geometry();
        saveScreenshot(grabScreen(), u"vericorr-message-window.png"_s);
        saveScreenshot(window.grab(), u"vericorr-message-window-only.png"_s);
        QTest::mouseClick(window.SpeedButton1, Qt::LeftButton);
        return window.result();
    };
    QElapsedTimer startup;
    startup.start();
    QVERIFY(!form.FormCreate({u"x"_s}));
    QTRY_VERIFY_WITH_TIMEOUT(!openSlidePopUps().isEmpty(), 20000);
    // For the record, not a limit: how long a login script waits for the first popup.
    qInfo("first popup %lld ms after the start-up", static_cast<long long>(startup.elapsed()));
    const QRect screenRect = QGuiApplication::primaryScreen()->geometry();
    QTRY_COMPARE_WITH_TIMEOUT(openSlidePopUps().size(), 3, 20000);
    QList<TfrmSlidePopUp*> popups = openSlidePopUps();
    std::sort(popups.begin(), popups.end(),
              [](TfrmSlidePopUp* a, TfrmSlidePopUp* b) { return a->popupGeometry().top > b->popupGeometry().top; });
    for (int i = 0; i < 3; ++i) {
        const QRect expected(screenRect.right() + 1 - 148 - 16, screenRect.bottom() + 1 - 2 - 120 - 122 * i, 148, 120);
        QTRY_COMPARE_WITH_TIMEOUT(popups[i]->geometry(), expected, 5000);
        QCOMPARE(popups[i]->Tag, i + 1);
    }
    QTest::qWait(300);
    saveScreenshot(grabScreen(), u"vericorr-popups.png"_s);
    saveScreenshot(grabScreen().copy(QRect(screenRect.right() - 200, screenRect.bottom() - 400, 200, 400)),
                   u"vericorr-popups-corner.png"_s);

    // A click on the text of the lowest popup opens its message window.
    TfrmSlidePopUp* lowest = popups[0];
    QTest::mouseClick(lowest->lblText, Qt::LeftButton, {}, lowest->lblText->rect().center());
    QVERIFY(windowShown);
    QCOMPARE(windowGeometry.size(), QSize(358, 220));
    QTRY_COMPARE(openSlidePopUps().size(), 2);
    form.SlidePopUp1().ClosePopUps();
    QTRY_COMPARE(form.SlidePopUp1().PopupCount(), 0);
}

void TestVERicorrX11::editorWindow() {
    RecordingBoxes boxes;
    FixedClock clock(QDate(2024, 3, 15));
    TForm1 form(boxes, clock);
    bool shown = false;
    QSize editorSize;
    form.ShowEditor = [&](TRicorrImpDlg& dialog) {
        dialog.show();
        shown = QTest::qWaitForWindowExposed(&dialog);
        QTest::qWait(200);
        saveScreenshot(dialog.grab(), u"vericorr-editor.png"_s);
        editorSize = dialog.size();
        fb::DataSet& ricorr = form.DMCltRicorr()->IBRicorr;
        ricorr.MoveTo(*ricorr.Locate("ID", "3"));
        QTest::qWait(100);
        saveScreenshot(dialog.grab(), u"vericorr-editor-yearly.png"_s);
        dialog.reject();
    };
    std::optional<int> status;
    connect(&form, &TForm1::terminateRequested, this, [&](int s) { status = s; });
    QVERIFY(!form.FormCreate({}));
    QTRY_VERIFY_WITH_TIMEOUT(status.has_value(), 20000);
    QVERIFY(shown);
    QCOMPARE(*status, 0);
    QCOMPARE(editorSize, QSize(445, 364));
}

QTEST_MAIN(TestVERicorrX11)
#include "test_vericorr_x11.moc"
