#include "reminders/ui/VERicorrMain.h"

#include "components/csLocale.h"
#include "components/ui/MessageBoxes.h"
#include "reminders/RemindersLog.h"
#include "reminders/ui/MsMsg.h"
#include "reminders/ui/RicorrImp.h"

#include <QPainter>
#include <QPainterPath>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace vestrel::reminders {

namespace {

// "Non mostrare ancora" could not be recorded, at the click nor at the next tick.
constexpr int LocDismissalFailed = 54098;

void printError(const QString& text) {
    const QByteArray line = (u"VERicorr: "_s + text + u'\n').toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

QImage ReminderIcon() {
    // A small desk calendar with a red header on a see-through background.
    QImage icon(32, 32, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x44, 0x44, 0x44), 1));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(3.5, 5.5, 25, 23), 3, 3);
    QPainterPath header;
    header.addRoundedRect(QRectF(3.5, 5.5, 25, 8), 3, 3);
    p.fillPath(header, QColor(0xC8, 0x28, 0x28));
    p.setBrush(QColor(0x44, 0x44, 0x44));
    p.drawRect(QRectF(9, 2.5, 2, 5));
    p.drawRect(QRectF(21, 2.5, 2, 5));
    p.setPen(QColor(0x1B, 0x3C, 0x78));
    QFont font = p.font();
    font.setPixelSize(12);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRectF(3.5, 13, 25, 15), Qt::AlignCenter, u"!"_s);
    return icon;
}

void ConfigureReminderPopUp(TSlidePopUp& popUp) {
    popUp.Text = u"text"_s;
    popUp.Title = u"title"_s;
    popUp.URL = u"https://vestrel.invalid/promemoria"_s; // never opened
    popUp.IconBitmap = ReminderIcon();
    popUp.IconLeft = 8;
    popUp.IconTop = 8;
    popUp.TimeOut = 0; // stays until clicked
    popUp.Width = 148;
    popUp.Height = 120;
    popUp.GradientColor1 = 16764057;
    popUp.GradientColor2 = clWhite;
    popUp.ScrollSpeed = 9;
    QFont font(u"MS Sans Serif"_s, 8);
    popUp.Font = TFont{font, clWindowText};
    QFont hover = font;
    hover.setUnderline(true);
    popUp.HoverFont = TFont{hover, clBlue};
    QFont title = font;
    title.setBold(true);
    popUp.TitleFont = TFont{title, clWindowText};
    popUp.Options = TSlidePopupOptions{spCascadePopups, spAllowScroll, spAllowHyperlink};
    popUp.TextCursor = Qt::ArrowCursor;
    popUp.PopupMarge = 2;
    popUp.PopupStartX = 16;
    popUp.PopupStartY = 2;
    popUp.DefaultMonitor = TDefaultMonitor::dmDesktop;
}

bool SlidePopUpReminders::ShowPopUp(qint32 tag, const QString& title, const QString& text) {
    m_popUp.Tag = tag;
    m_popUp.Title = title;
    m_popUp.Text = text;
    return m_popUp.ShowPopUp();
}

TForm1::TForm1(MessageBoxes& boxes, const Clock& clock, DesktopScreen* screen)
    : m_boxes(boxes)
    , m_clock(clock)
    , m_slidePopUp1(std::make_unique<TSlidePopUp>(nullptr, screen))
    , m_popups(std::make_unique<SlidePopUpReminders>(*m_slidePopUp1)) {
    setWindowTitle(u"Form1"_s);
    ConfigureReminderPopUp(*m_slidePopUp1);
    m_slidePopUp1->OnURLClick = [this](QObject* sender, const QString& url) {
        SlidePopUp1URLClick(sender, url);
    };
    ShowMessageWindow = [](TMsMsgFrm& window) {
        return window.exec();
    };
    ShowEditor = [](TRicorrImpDlg& dialog) {
        dialog.exec();
    };
}

TForm1::~TForm1() {
    // The data module's threads hand popups to the component; they stop before it goes.
    m_dm.reset();
}

std::optional<int> TForm1::FormCreate(const QStringList& arguments) {
    const StartupArguments startup = ParseStartupArguments(arguments);
    switch (startup.mode) {
    case StartMode::Editor:
        StartEditor();
        return std::nullopt;
    case StartMode::Reminders:
        StartReminders(startup.filters);
        return std::nullopt;
    case StartMode::TooManyArguments:
        break;
    }
    const QString usage = u"too many arguments (usage: VERicorr [x [OP=xx] [PC=yy]]; "
                          u"without arguments it opens the editor)"_s;
    printError(usage);
    m_boxes.error(u"Troppi argomenti sulla riga di comando.\nUso: VERicorr x [OP=xx] [PC=yy], oppure VERicorr "
                  u"senza argomenti per modificare i promemoria."_s);
    return 2;
}

void TForm1::StartEditor() {
    createDataModule();
    m_dm->EditorMode = true;
    m_dm->DataModuleCreate([this](const QString& text) { m_boxes.information(text); });
}

void TForm1::StartReminders(const ReminderFilters& filters) {
    createDataModule();
    m_dm->Filters = filters;
    m_dm->ReminderMode = true;
    m_dm->DataModuleCreate([this](const QString& text) { m_boxes.information(text); });
}

void TForm1::createDataModule() {
    SelectLanguage(u"VE"_s);
    m_dm = std::make_unique<TDMCltRicorr>(m_clock, *m_popups);
    connect(m_dm.get(), &TDMCltRicorr::editorRequested, this, &TForm1::editorRequested);
    connect(m_dm.get(), &TDMCltRicorr::connectionFailed, this, &TForm1::connectionFailed);
    connect(m_dm.get(), &TDMCltRicorr::terminateRequested, this, [this] { emit terminateRequested(0); });
    connect(m_dm.get(), &TDMCltRicorr::dismissalFailed, this, [this](qint32 id, const QString& reason) {
        const QString text = LocalString(LocDismissalFailed);
        m_boxes.error((text.isEmpty() ? u"Impossibile registrare \"Non mostrare ancora\" per il promemoria %1: "
                                        u"tornerà al prossimo avvio."_s
                                      : text)
                          .arg(id) +
                      u"\n\n"_s + reason);
    });
}

void TForm1::connectionFailed(const QString& message) {
    printError(message);
    // Without a database file the user has just been told so (message 45130).
    if (m_dm->DatabaseConfigured())
        m_boxes.error(u"Impossibile aprire il database dei promemoria.\n"_s + message);
    emit terminateRequested(1);
}

void TForm1::editorRequested() {
    {
        TRicorrImpDlg dialog(*m_dm, m_boxes, this);
        ShowEditor(dialog);
    }
    m_dm->EditorMode = false;
    emit terminateRequested(0);
}

void TForm1::SlidePopUp1URLClick(QObject* Sender, const QString& URL) {
    Q_UNUSED(URL);
    const auto* popup = qobject_cast<TfrmSlidePopUp*>(Sender);
    if (!popup || !m_dm)
        return;
    const std::optional<MemTBRow> row = m_dm->LocateReminder(popup->Tag);
    if (!row) {
        qCWarning(lcReminders) << "no due reminder with ID" << popup->Tag;
        return;
    }
    TMsMsgFrm window(m_slidePopUp1->IconBitmap);
    window.ShowReminder(*row);
    if (ShowMessageWindow(window) == QDialog::Accepted)
        m_dm->RecordDismissal(popup->Tag);
}

} // namespace vestrel::reminders
