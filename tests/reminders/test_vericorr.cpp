#include "components/csLocale.h"
#include "fb/Query.h"
#include "platform/Cp1252.h"
#include "platform/Registry.h"
#include "reminders/DismissalRecord.h"
#include "reminders/ui/MsMsg.h"
#include "reminders/ui/RicorrImp.h"
#include "reminders/ui/VERicorrMain.h"
#include "tests/components/FakeDesktopScreen.h"
#include "tests/fb/SchemaDatabase.h"
#include "tests/reminders/VERicorrTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <algorithm>

using namespace vestrel;
using namespace vestrel::reminders;
using namespace vestrel::testing;
using namespace Qt::StringLiterals;

namespace {

const QDate Today(2024, 3, 15); // a Friday

// Popups of this process ordered from the bottom of the screen up, as they stack.
QList<TfrmSlidePopUp*> popupsBottomUp() {
    QList<TfrmSlidePopUp*> popups = openSlidePopUps();
    std::sort(popups.begin(), popups.end(),
              [](TfrmSlidePopUp* a, TfrmSlidePopUp* b) { return a->popupGeometry().top > b->popupGeometry().top; });
    return popups;
}

} // namespace

class TestVERicorr : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startupArguments_data();
    void startupArguments();
    void dueRemindersSlideInAsPopupsInRowOrder();
    void nothingDueEndsAtTheFirstTick();
    void messageWindowRecordsTheDismissal();
    void tooManyArguments();
    void noDatabaseConfigured();
    void databaseThatCannotBeOpened();
    void editorCombosWriteTheDetail();
    void editorNavigatorInsertsAndCancelRollsBack();
    void editorOkCommits();
    void editorRefusesTextAndAsksOnConflict();
    void editorShowsEveryRowAroundAnUnreadableMessage();
    void unconvertibleTitlesAndNamesHideOnlyThemselves();

private:
    void writeConfig(const QByteArray& file);
    // Starts VERicorr with `arguments` and runs `editor` on the dialog when the editor opens.
    int runEditor(const std::function<void(TRicorrImpDlg&)>& editor);

    QTemporaryDir m_dir;
    QByteArray m_path;
    RecordingBoxes m_boxes;
    FixedClock m_clock{Today};
    test::FakeDesktopScreen m_screen;
    std::unique_ptr<TForm1> m_form;
    std::optional<int> m_status;
};

void TestVERicorr::initTestCase() {
    QVERIFY(m_dir.isValid());
    useTestFolders(m_dir);
    // The language libraries beside the program, Italian chosen.
    const QDir bin(qEnvironmentVariable("VESTREL_BIN_DIR"));
    for (const QString& name : {u"VE_ita.dll"_s, u"VE_eng.dll"_s})
        QFile::copy(bin.filePath(name), m_dir.filePath(name));
    csLocale::setLanguageChooser([] { return 0; });
    m_path = QFile::encodeName(m_dir.filePath(u"office.fdb"_s));
    createSchemaDatabase(m_path);
    fb::Attachment att = fb::Attachment::attach(m_path, SchemaUser);
    fb::Transaction tr(att);
    att.execute(tr, "insert into OPERATORI (SIGLA, DESCRIZIONE) values ('AN', 'Anna')");
    att.execute(tr, "insert into POSTAZIONI (SIGLA, DESCRIZIONE) values ('P1', 'Sportello')");
    att.execute(tr, "set generator RICORR_ID_GEN to 100");
    tr.commit();
}

void TestVERicorr::init() {
    QFile::remove(registryHiveFile(RegistryHive::CurrentUser));
    writeConfig(m_path);
    m_boxes = RecordingBoxes();
    m_status.reset();
    m_form = std::make_unique<TForm1>(m_boxes, m_clock, &m_screen);
    connect(m_form.get(), &TForm1::terminateRequested, this, [this](int status) { m_status = status; });
}

void TestVERicorr::cleanup() {
    if (m_form)
        m_form->SlidePopUp1().ClosePopUps();
    m_form.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestVERicorr::writeConfig(const QByteArray& file) {
    QFile config(m_dir.filePath(u"config.ini"_s));
    QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
    config.write("[Database]\r\n" + (file.isEmpty() ? QByteArray() : "File=" + file + "\r\n") +
                 "user=SYSDBA\r\npwd=x\r\n");
}

void TestVERicorr::startupArguments_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("op");
    QTest::addColumn<QByteArray>("pc");
    const int editor = int(StartMode::Editor), reminders = int(StartMode::Reminders);
    QTest::newRow("none: editor") << QStringList() << editor << QByteArray() << QByteArray();
    QTest::newRow("x OP PC") << QStringList{u"x"_s, u"OP=AB"_s, u"PC=01"_s} << reminders << QByteArray("AB")
                             << QByteArray("01");
    QTest::newRow("x PC OP") << QStringList{u"x"_s, u"PC=01"_s, u"OP=AB"_s} << reminders << QByteArray("AB")
                             << QByteArray("01");
    QTest::newRow("OP alone is the first") << QStringList{u"OP=AB"_s} << reminders << QByteArray() << QByteArray();
    QTest::newRow("lower case") << QStringList{u"x"_s, u"op=ab"_s} << reminders << QByteArray() << QByteArray();
    QTest::newRow("long code") << QStringList{u"x"_s, u"OP=ABC"_s} << reminders << QByteArray("AB") << QByteArray();
    QTest::newRow("short code") << QStringList{u"x"_s, u"OP=A"_s} << reminders << QByteArray("A") << QByteArray();
    QTest::newRow("later wins") << QStringList{u"x"_s, u"OP=AB"_s, u"OP=CD"_s} << reminders << QByteArray("CD")
                                << QByteArray();
    QTest::newRow("four") << QStringList{u"x"_s, u"OP=AB"_s, u"PC=01"_s, u"y"_s} << int(StartMode::TooManyArguments)
                          << QByteArray() << QByteArray();
}

void TestVERicorr::startupArguments() {
    QFETCH(QStringList, arguments);
    QFETCH(int, mode);
    QFETCH(QByteArray, op);
    QFETCH(QByteArray, pc);
    const StartupArguments parsed = ParseStartupArguments(arguments);
    QCOMPARE(int(parsed.mode), mode);
    QCOMPARE(parsed.filters.OperatorFilter, op);
    QCOMPARE(parsed.filters.WorkstationFilter, pc);
}

void TestVERicorr::dueRemindersSlideInAsPopupsInRowOrder() {
    storeReminders(m_path, SchemaUser,
                   {{3, 1, {}, "Terzo per ID", "Messaggio tre"},
                    {1, 2, "6", "Domenica: non oggi"},
                    {2, 4, "14 2", "Dal 15 marzo", "Messaggio due"},
                    {9, 3, "0", "Primo del mese", "Messaggio nove"}});
    QVERIFY(!m_form->FormCreate({u"x"_s, u"OP=AB"_s}));
    TDMCltRicorr* dm = m_form->DMCltRicorr();
    QVERIFY(dm);
    QSignalSpy shown(dm, &TDMCltRicorr::popupsShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 20000);
    QVERIFY(dm->Timer1.isActive());
    QCOMPARE(dm->Timer1.interval(), 60000);

    // Rows in the order the select returned them, stacked from the bottom right, 148 x 120 each.
    QList<qint32> rowOrder;
    for (const MemTBRow& row : dm->MemTB.rows())
        rowOrder.append(row.ID);
    QCOMPARE(rowOrder.size(), 3);
    QVERIFY(!rowOrder.contains(1));
    const QList<TfrmSlidePopUp*> popups = popupsBottomUp();
    QCOMPARE(popups.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(popups[i]->Tag, rowOrder[i]);
        QTRY_COMPARE(popups[i]->popupGeometry(), (PopupRect{1280 - 148 - 16, 994 - 2 - 120 - 122 * i, 148, 120}));
        QVERIFY(!popups[i]->tmrExit->isActive()); // time-out 0: they stay until clicked
    }
    QCOMPARE(popups[0]->lblTitle->text(), cp1252::toUnicode(dm->MemTB.at(0).Descrizione));

    // The program ends at the first tick with no popup open, not before.
    QSignalSpy ended(dm, &TDMCltRicorr::terminateRequested);
    dm->Timer1Timer();
    QCOMPARE(ended.size(), 0);
    m_form->SlidePopUp1().ClosePopUps();
    dm->Timer1Timer();
    QCOMPARE(ended.size(), 1);
    QTRY_COMPARE(m_status, std::optional<int>(0));
}

void TestVERicorr::nothingDueEndsAtTheFirstTick() {
    storeReminders(m_path, SchemaUser, {{1, 2, "6", "Domenica"}});
    QVERIFY(!m_form->FormCreate({u"x"_s}));
    TDMCltRicorr* dm = m_form->DMCltRicorr();
    QTRY_VERIFY_WITH_TIMEOUT(dm->Timer1.isActive(), 20000);
    QCOMPARE(dm->MemTB.RecordCount(), 0);
    QCOMPARE(m_form->SlidePopUp1().PopupCount(), 0);
    QVERIFY(!m_status);
    dm->Timer1Timer();
    QTRY_COMPARE(m_status, std::optional<int>(0));
}

void TestVERicorr::messageWindowRecordsTheDismissal() {
    storeReminders(m_path, SchemaUser,
                   {{7, 1, {}, "Posta & PEC", "Aprire la casella\r\ne protocollare."}, {8, 0, {}, "Benvenuti"}});
    QVERIFY(!m_form->FormCreate({u"x"_s}));
    TDMCltRicorr* dm = m_form->DMCltRicorr();
    QSignalSpy shown(dm, &TDMCltRicorr::popupsShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 20000);
    QList<TfrmSlidePopUp*> popups = popupsBottomUp();
    QCOMPARE(popups.size(), 2);

    int windows = 0;
    QStringList seen;
    QSize size;
    QPoint position;
    bool icon = false;
    m_form->ShowMessageWindow = [&](TMsMsgFrm& window) -> int {
        ++windows;
        seen << window.windowTitle() << window.Label2->text() << window.Label1->text() << window.LabelRicorr->text();
        if (windows == 1) {
            size = window.size();
            position = window.pos();
            icon = window.ImageIco->pixmap().width() > 0;
            window.SpeedButton1->click();
        } else {
            window.reject(); // the close box
        }
        return window.result();
    };
    // The popup counts as open while its message window is.
    popups[0]->lblTextClick();
    QCOMPARE(windows, 1);
    QCOMPARE(seen, (QStringList{u"Posta & PEC"_s, u"Posta & PEC"_s, u"Aprire la casella\r\ne protocollare."_s,
                                u"Giornaliera"_s}));
    QCOMPARE(size, QSize(358, 220));
    QCOMPARE(position, QPoint(474, 245));
    QVERIFY(icon);
    Registry registry;
    QVERIFY(registry.OpenKey(AlertKey, false));
    QCOMPARE(DecodeDismissalDate(*registry.ReadValue("7")), Today);
    popups[1]->lblTextClick();
    QCOMPARE(windows, 2);
    QCOMPARE(seen.last(), u"Unica"_s);
    QVERIFY(!registry.ValueExists("8"));
    QTRY_COMPARE(m_form->SlidePopUp1().PopupCount(), 0);
}

void TestVERicorr::tooManyArguments() {
    QCOMPARE(m_form->FormCreate({u"x"_s, u"OP=AB"_s, u"PC=01"_s, u"y"_s}), std::optional<int>(2));
    QCOMPARE(m_boxes.errors.size(), 1);
    QVERIFY(!m_form->DMCltRicorr());
}

void TestVERicorr::noDatabaseConfigured() {
    writeConfig({});
    QVERIFY(!m_form->FormCreate({u"x"_s}));
    QTRY_COMPARE_WITH_TIMEOUT(m_status, std::optional<int>(1), 20000);
    QCOMPARE(m_boxes.information_, QStringList{u"Nessun file di database configurato in config.ini."_s});
    QVERIFY(m_boxes.errors.isEmpty()); // told once
    QVERIFY(!m_form->DMCltRicorr()->Timer1.isActive());
}

void TestVERicorr::databaseThatCannotBeOpened() {
    writeConfig(QFile::encodeName(m_dir.filePath(u"missing/nowhere.fdb"_s)));
    QVERIFY(!m_form->FormCreate({}));
    QTRY_COMPARE_WITH_TIMEOUT(m_status, std::optional<int>(1), 20000);
    QCOMPARE(m_boxes.errors.size(), 1);
    QVERIFY2(m_boxes.errors[0].contains(u"nowhere.fdb"_s), qPrintable(m_boxes.errors[0]));
}

int TestVERicorr::runEditor(const std::function<void(TRicorrImpDlg&)>& editor) {
    bool ran = false;
    m_form->ShowEditor = [&](TRicorrImpDlg& dialog) {
        ran = true;
        dialog.show();
        editor(dialog);
    };
    if (m_form->FormCreate({}))
        return -1;
    if (!QTest::qWaitFor([&] { return m_status.has_value(); }, 20000))
        return -2;
    return ran ? *m_status : -3;
}

void TestVERicorr::editorCombosWriteTheDetail() {
    storeReminders(
        m_path, SchemaUser,
        {{1, 4, "0 0", "Annuale"}, {2, 3, "4", "Mensile"}, {3, 2, "x", "Settimanale"}, {4, 9, "", "Strano"}});
    const int status = runEditor([&](TRicorrImpDlg& dlg) {
        fb::DataSet& ricorr = m_form->DMCltRicorr()->IBRicorr;
        QCOMPARE(dlg.windowTitle(), u"Impostazione ricorrenze"_s);
        QCOMPARE(dlg.ComboDay->itemText(0), u"Lunedi"_s);
        QCOMPARE(dlg.ComboMesi->count(), 12);
        QCOMPARE(dlg.NavigatorButtons[TRicorrImpDlg::nbNext]->toolTip(), u"Successivo"_s);
        // The grid lists names in order with their criterion letters; an unknown criterion has none.
        const QAbstractItemModel* grid = dlg.cxGrid1->model();
        QStringList letters;
        for (int row = 0; row < grid->rowCount(); ++row)
            letters.append(grid->index(row, 0).data().toString() + u':' + grid->index(row, 1).data().toString());
        QCOMPARE(letters, (QStringList{u"Annuale:A"_s, u"Mensile:M"_s, u"Settimanale:S"_s, u"Strano:"_s}));
        const auto moveTo = [&](qint64 id) {
            ricorr.MoveTo(*ricorr.Locate("ID", QByteArray::number(id)));
        };
        const auto detail = [&] {
            return ricorr.FieldByName("SOTTOCRITERIO").asText();
        };

        // Yearly: 15 and Marzo give "14 2", shown again after moving away and back.
        moveTo(1);
        QVERIFY(dlg.PanelAnno->isVisibleTo(&dlg));
        dlg.ComboGiorno->setCurrentIndex(14);
        emit dlg.ComboGiorno->activated(14);
        dlg.ComboMesi->setCurrentIndex(2);
        emit dlg.ComboMesi->activated(2);
        QCOMPARE(detail(), QByteArray("14 2"));
        QVERIFY(!dlg.UpdatingGuard());
        moveTo(2);
        QVERIFY(dlg.PanelMese->isVisibleTo(&dlg) && !dlg.PanelAnno->isVisibleTo(&dlg));
        QCOMPARE(dlg.ComboGiornoMensile->currentIndex(), 4);
        moveTo(1);
        QCOMPARE(dlg.ComboGiorno->currentText(), u"15"_s);
        QCOMPARE(dlg.ComboMesi->currentText(), u"Marzo"_s);

        // Switching yearly to monthly keeps the text and shows its first number as the day.
        const int mensile = dlg.cxDBImageComboBox1->findData(3);
        dlg.cxDBImageComboBox1->setCurrentIndex(mensile);
        emit dlg.cxDBImageComboBox1->activated(mensile);
        QCOMPARE(ricorr.FieldByName("CRITERIO").asInteger(), 3);
        QCOMPARE(detail(), QByteArray("14 2"));
        QVERIFY(dlg.PanelMese->isVisibleTo(&dlg));
        QCOMPARE(dlg.ComboGiornoMensile->currentText(), u"15"_s);

        // Monthly "31" stores 30.
        moveTo(2);
        dlg.ComboGiornoMensile->setCurrentIndex(30);
        emit dlg.ComboGiornoMensile->activated(30);
        QCOMPARE(detail(), QByteArray("30"));

        // Weekly: an unreadable detail shows Monday; the first weekday stores 0.
        moveTo(3);
        QCOMPARE(dlg.ComboDay->currentIndex(), 0);
        emit dlg.ComboDay->activated(0);
        QCOMPARE(detail(), QByteArray("0"));

        // A criterion outside 0 to 4 leaves the panel shown before.
        moveTo(4);
        QVERIFY(dlg.PanelSett->isVisibleTo(&dlg));
        dlg.accept();
    });
    QCOMPARE(status, 0);
    QCOMPARE(committedField(m_path, SchemaUser, 1, "SOTTOCRITERIO"), QByteArray("14 2"));
    QCOMPARE(committedField(m_path, SchemaUser, 1, "CRITERIO"), QByteArray("3"));
    QCOMPARE(committedField(m_path, SchemaUser, 2, "SOTTOCRITERIO"), QByteArray("30"));
}

void TestVERicorr::editorNavigatorInsertsAndCancelRollsBack() {
    storeReminders(m_path, SchemaUser, {{1, 1, {}, "Uno"}, {2, 1, {}, "Due"}});
    const int status = runEditor([&](TRicorrImpDlg& dlg) {
        fb::DataSet& ricorr = m_form->DMCltRicorr()->IBRicorr;
        dlg.NavigatorClick(TRicorrImpDlg::nbInsert);
        QCOMPARE(dlg.cxDBTextEdit1->text(), u"Memo"_s);
        m_boxes.answer = false;
        dlg.NavigatorClick(TRicorrImpDlg::nbDelete);
        QCOMPARE(ricorr.RecordCount(), 3);
        m_boxes.answer = true;
        dlg.NavigatorClick(TRicorrImpDlg::nbDelete);
        QCOMPARE(ricorr.RecordCount(), 2);
        QCOMPARE(m_boxes.questions.size(), 2);
        dlg.cxDBTextEdit1->setText(u"Cambiato"_s);
        emit dlg.cxDBTextEdit1->textEdited(u"Cambiato"_s);
        dlg.reject();
        QVERIFY(!dlg.isVisible());
        QVERIFY(!ricorr.Modified());
    });
    QCOMPARE(status, 0);
    QCOMPARE(committedField(m_path, SchemaUser, 1, "DESCRIZIONE"), QByteArray("Uno"));
    QCOMPARE(committedField(m_path, SchemaUser, 2, "DESCRIZIONE"), QByteArray("Due"));
}

void TestVERicorr::editorOkCommits() {
    storeReminders(m_path, SchemaUser, {{1, 1, {}, "Uno"}});
    const int status = runEditor([&](TRicorrImpDlg& dlg) {
        dlg.cxDBMemo1->setPlainText(u"Riga uno\nRiga è due"_s); // typed, not posted
        dlg.cxDBCheckBox1->click();
        const int anna = dlg.cxDBLookupComboBox1->findText(u"Anna"_s);
        QVERIFY(anna > 0);
        emit dlg.cxDBLookupComboBox1->activated(anna);
        dlg.accept();
        QVERIFY(!dlg.isVisible());
    });
    QCOMPARE(status, 0);
    QCOMPARE(committedField(m_path, SchemaUser, 1, "MESSAGGIO"), QByteArray("Riga uno\r\nRiga \xe8 due"));
    QCOMPARE(committedField(m_path, SchemaUser, 1, "FINACTIVE"), QByteArray("1"));
    QCOMPARE(committedField(m_path, SchemaUser, 1, "UTENTE"), QByteArray("AN"));
}

void TestVERicorr::editorRefusesTextAndAsksOnConflict() {
    storeReminders(m_path, SchemaUser, {{1, 1, {}, "Uno"}});
    const int status = runEditor([&](TRicorrImpDlg& dlg) {
        // Text the database cannot hold: OK refuses it by name and the dialog stays with it.
        dlg.cxDBTextEdit1->setText(u"Uno \u2192 due"_s);
        emit dlg.cxDBTextEdit1->textEdited(dlg.cxDBTextEdit1->text());
        QVERIFY(m_boxes.errors.isEmpty()); // not while typing
        dlg.accept();
        QVERIFY(dlg.isVisible());
        QCOMPARE(m_boxes.errors.size(), 1);
        QVERIFY2(m_boxes.errors[0].contains(u"\u2192"_s), qPrintable(m_boxes.errors[0]));
        QCOMPARE(dlg.cxDBTextEdit1->text(), u"Uno \u2192 due"_s);

        // Meanwhile another operator renames it: both versions are shown, and taking the other's
        // puts it in the field.
        {
            fb::Attachment other = fb::Attachment::attach(m_path, SchemaUser);
            fb::Transaction tr(other);
            other.execute(tr, "update RICORRENZE set DESCRIZIONE = 'Altrove' where ID = 1");
            tr.commit();
        }
        dlg.cxDBTextEdit1->setText(u"Mio"_s);
        emit dlg.cxDBTextEdit1->textEdited(u"Mio"_s);
        m_boxes.answer = false;
        dlg.accept();
        QCOMPARE(m_boxes.questions.size(), 1);
        QVERIFY2(m_boxes.questions[0].contains(u"Altrove"_s) && m_boxes.questions[0].contains(u"Mio"_s),
                 qPrintable(m_boxes.questions[0]));
        QVERIFY(!dlg.isVisible()); // the other's version kept, the dialog closes
    });
    QCOMPARE(status, 0);
    QCOMPARE(committedField(m_path, SchemaUser, 1, "DESCRIZIONE"), QByteArray("Altrove"));
}

void TestVERicorr::editorShowsEveryRowAroundAnUnreadableMessage() {
    // A message in a character set the program's connection cannot convert.
    const QByteArray path = QFile::encodeName(m_dir.filePath(u"damaged.fdb"_s));
    createSchemaDatabase(path);
    const QByteArrayList utf8 = SchemaUser + QByteArrayList{"lc_ctype=UTF8"};
    {
        fb::Attachment att = fb::Attachment::attach(path, utf8);
        fb::Transaction tr(att);
        att.execute(tr, "recreate table RICORRENZE (ID integer not null primary key, POSTAZIONE varchar(2), "
                        "UTENTE varchar(2), DESCRIZIONE varchar(60), MESSAGGIO blob sub_type text character set "
                        "UTF8, CRITERIO smallint, SOTTOCRITERIO varchar(20), FINACTIVE varchar(1))");
        tr.commit();
    }
    storeReminders(path, utf8,
                   {{1, 1, {}, "Uno", "primo"}, {2, 1, {}, "Due", "\xd0\x96 cirillico"}, {3, 1, {}, "Tre", "terzo"}});
    writeConfig(path);

    const int status = runEditor([&](TRicorrImpDlg& dlg) {
        fb::DataSet& ricorr = m_form->DMCltRicorr()->IBRicorr;
        QCOMPARE(ricorr.RecordCount(), 3);
        const auto moveTo = [&](qint64 id) {
            ricorr.MoveTo(*ricorr.Locate("ID", QByteArray::number(id)));
        };
        moveTo(2);
        QCOMPARE(dlg.cxDBTextEdit1->text(), u"Due"_s);
        QVERIFY(dlg.cxDBMemo1->toPlainText().isEmpty());
        // The damaged row's other fields save; its message is left as it is.
        dlg.cxDBTextEdit1->setText(u"Due bis"_s);
        emit dlg.cxDBTextEdit1->textEdited(u"Due bis"_s);
        moveTo(3);
        QCOMPARE(dlg.cxDBMemo1->toPlainText(), u"terzo"_s);
        dlg.cxDBTextEdit1->setText(u"Tre bis"_s);
        emit dlg.cxDBTextEdit1->textEdited(u"Tre bis"_s);
        dlg.cxDBMemo1->setPlainText(u"terzo bis"_s);
        dlg.accept();
        QVERIFY(!dlg.isVisible());
    });
    QCOMPARE(status, 0);
    QVERIFY(m_boxes.errors.isEmpty());
    QCOMPARE(committedField(path, utf8, 3, "DESCRIZIONE"), QByteArray("Tre bis"));
    QCOMPARE(committedField(path, utf8, 3, "MESSAGGIO"), QByteArray("terzo bis"));
    QCOMPARE(committedField(path, utf8, 2, "DESCRIZIONE"), QByteArray("Due bis"));
    QCOMPARE(committedField(path, utf8, 2, "MESSAGGIO"), QByteArray("\xd0\x96 cirillico"));
}

void TestVERicorr::unconvertibleTitlesAndNamesHideOnlyThemselves() {
    // Titles and operator names in UTF8 columns; one of each has no WIN1252 form.
    const QByteArray path = QFile::encodeName(m_dir.filePath(u"utf8titles.fdb"_s));
    createSchemaDatabase(path);
    const QByteArrayList utf8 = SchemaUser + QByteArrayList{"lc_ctype=UTF8"};
    {
        fb::Attachment att = fb::Attachment::attach(path, utf8);
        fb::Transaction tr(att);
        att.execute(tr, "recreate table RICORRENZE (ID integer not null primary key, POSTAZIONE varchar(2), "
                        "UTENTE varchar(2), DESCRIZIONE varchar(60) character set UTF8, MESSAGGIO blob sub_type "
                        "text, CRITERIO smallint, SOTTOCRITERIO varchar(20), FINACTIVE varchar(1))");
        att.execute(tr, "recreate table OPERATORI (SIGLA varchar(2) not null primary key, DESCRIZIONE varchar(40) "
                        "character set UTF8, COLORE integer, FONT varchar(60), PERCENTUALE double precision, "
                        "OP_INTEST_FAT varchar(1), PWD varchar(20))");
        tr.commit();
        fb::Transaction fill(att);
        att.execute(fill, "insert into OPERATORI (SIGLA, DESCRIZIONE) values ('AN', 'Anna')");
        att.execute(fill, "insert into OPERATORI (SIGLA, DESCRIZIONE) values ('KJ', '\xe6\xbc\xa2')");
        fill.commit();
    }
    storeReminders(path, utf8,
                   {{1, 1, {}, "Uno", "primo"}, {2, 1, {}, "Due \xe6\xbc\xa2", "secondo"}, {3, 1, {}, "Tre", "terzo"}});
    writeConfig(path);

    // The reminders of the day: every readable one pops up.
    QVERIFY(!m_form->FormCreate({u"x"_s}));
    TDMCltRicorr* dm = m_form->DMCltRicorr();
    QSignalSpy shown(dm, &TDMCltRicorr::popupsShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 20000);
    QStringList titles;
    for (TfrmSlidePopUp* popup : popupsBottomUp())
        titles << popup->lblTitle->text();
    QCOMPARE(titles, (QStringList{u"Uno"_s, u"Tre"_s}));
    m_form->SlidePopUp1().ClosePopUps();
    cleanup();
    init();
    writeConfig(path);

    // The editor: the row shows with its name marked and read-only; its other fields save.
    const int status = runEditor([&](TRicorrImpDlg& dlg) {
        fb::DataSet& ricorr = m_form->DMCltRicorr()->IBRicorr;
        QCOMPARE(ricorr.RecordCount(), 3);
        QVERIFY(dlg.cxDBLookupComboBox1->findText(u"Anna"_s) > 0);
        ricorr.MoveTo(*ricorr.Locate("ID", "2"));
        QVERIFY(dlg.cxDBTextEdit1->isReadOnly());
        QVERIFY(dlg.cxDBTextEdit1->text().isEmpty());
        QVERIFY(!dlg.cxDBTextEdit1->placeholderText().isEmpty());
        QCOMPARE(dlg.cxDBMemo1->toPlainText(), u"secondo"_s);
        dlg.cxDBMemo1->setPlainText(u"secondo bis"_s);
        ricorr.MoveTo(*ricorr.Locate("ID", "3"));
        QVERIFY(!dlg.cxDBTextEdit1->isReadOnly());
        dlg.accept();
        QVERIFY(!dlg.isVisible());
    });
    QCOMPARE(status, 0);
    QVERIFY2(m_boxes.errors.isEmpty(), qPrintable(m_boxes.errors.join(u'|')));
    QCOMPARE(committedField(path, utf8, 2, "MESSAGGIO"), QByteArray("secondo bis"));
    QCOMPARE(committedField(path, utf8, 2, "DESCRIZIONE"), QByteArray("Due \xe6\xbc\xa2"));
}

QTEST_MAIN(TestVERicorr)
#include "test_vericorr.moc"
