#include "chat/ui/SettingsDialog.h"

#include "chat/ChatLog.h"
#include "chat/ChatPassword.h"
#include "chat/HistoryLine.h"
#include "chat/ServerTrust.h"
#include "chat/ui/HistoryTexts.h"
#include "chat/ui/LocalTexts.h"
#include "chat/ui/ShellLook.h"
#include "components/ui/MessageBoxes.h"
#include "platform/Cp1252.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

namespace {
constexpr int timerMinimum = 0;
constexpr int timerMaximum = 100;

const QString keepDaysText = u"Conserva la cronologia per %1 giorni"_s;

QByteArray flag(const QCheckBox* box) {
    return box->isChecked() ? "1" : "0";
}
} // namespace

TForm1::TForm1(TUserConfig& config, std::function<QByteArray()> hostName, QWidget* owner)
    : QDialog(owner)
    , m_config(config)
    , m_hostName(std::move(hostName)) {
    setObjectName(u"Form1"_s);
    setWindowTitle(u"Impostazioni Client"_s);
    paintSkyBlue(this);

    auto* layout = new QVBoxLayout(this);
    auto check = [&](const QString& caption, const QString& hint) {
        auto* box = new QCheckBox(caption);
        box->setToolTip(hint);
        layout->addWidget(box);
        return box;
    };
    CheckBox1 = check(u"Mostra messaggio alla chiusura della finestra"_s,
                      u"Mostra il messaggio quando si riduce la finestra"_s);
    CheckBox2 = check(u"Avvio automatico"_s, u"Connetti automaticamente all'avvio"_s);
    CheckBox3 = check(u"Notifica entrata ed uscita dalla chat"_s, QString());
    CheckBox4 = check(u"Messaggio in PopUp con finestra minimizzata"_s, QString());
    CheckBox5 = check(u"Attiva suono alla notifica di un messaggio"_s, QString());
    CheckBox6 = check(u"Connessione cifrata (TLS)"_s, QString());
    connect(CheckBox4, &QCheckBox::clicked, this, &TForm1::CheckBox4Click);

    auto* grid = new QGridLayout;
    const QString captions[5] = {u"Host Server"_s, u"Porta Server"_s, u"Nick Client"_s, u"Host Client"_s,
                                 u"Timer PopUp"_s};
    for (int i = 0; i < 5; ++i)
        m_labels[i] = new QLabel(captions[i]);
    Edit5 = new QSpinBox;
    Edit5->setRange(timerMinimum, timerMaximum);
    Edit5->setSingleStep(1);
    Edit5->setFixedWidth(60);
    grid->addWidget(m_labels[4], 0, 0);
    grid->addWidget(Edit5, 0, 1, Qt::AlignLeft);
    auto edit = [&](int row, const QString& hint) {
        auto* box = new QLineEdit;
        box->setToolTip(hint);
        grid->addWidget(m_labels[row], row + 1, 0);
        grid->addWidget(box, row + 1, 1);
        return box;
    };
    Edit1 = edit(0, u"Inserire l'host del server"_s);
    Edit2 = edit(1, u"Inserire la porta di comunicazione con il server"_s);
    Edit3 = edit(2, u"Inserire un nome con il quale si vuole entrare in chat"_s);
    Edit4 = edit(3, u"Inserire l'hos della propria postazione"_s);
    SpeedButton2 = new QToolButton;
    SpeedButton2->setText(u"N"_s);
    SpeedButton2->setToolTip(u"Recupera in automatico il nome del client"_s);
    connect(SpeedButton2, &QToolButton::clicked, this, &TForm1::SpeedButton2Click);
    grid->addWidget(SpeedButton2, 4, 2);
    m_passwordLabel = new QLabel(u"Password"_s);
    Edit6 = new QLineEdit;
    Edit6->setEchoMode(QLineEdit::Password);
    grid->addWidget(m_passwordLabel, 5, 0);
    grid->addWidget(Edit6, 5, 1);
    layout->addSpacing(8);
    layout->addLayout(grid);
    auto* history = new QHBoxLayout;
    m_historyLabel = new QLabel;
    HistoryDays = new QSpinBox;
    HistoryDays->setRange(0, HistoryRetention::MaximumDays);
    history->addWidget(m_historyLabel);
    history->addWidget(HistoryDays);
    history->addStretch();
    layout->addLayout(history);
    showHistoryDaysText(keepDaysText);
    layout->addStretch();

    auto* buttons = new QHBoxLayout;
    Button1 = new QPushButton(u"&OK"_s);
    Button1->setToolTip(u"Salva "_s);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TForm1::accept);
    Button2 = new QPushButton(u"&Annulla"_s);
    Button2->setToolTip(u"Annulla"_s);
    connect(Button2, &QPushButton::clicked, this, &TForm1::reject);
    buttons->addWidget(Button1);
    buttons->addStretch();
    buttons->addWidget(Button2);
    layout->addLayout(buttons);
    // The design size, widened where this desktop's font needs more room for the check boxes' texts.
    setFixedSize(QSize(312, 353).expandedTo(sizeHint()));
}

void TForm1::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TForm1::FormShow() {
    applyTitle(this, 49818);
    applyText(Button1, 49819);
    applyHint(Button1, 49820);
    applyText(Button2, 49821);
    applyHint(Button2, 49822);
    applyText(CheckBox1, 49823);
    applyHint(CheckBox1, 49824);
    applyText(CheckBox2, 49825);
    applyHint(CheckBox2, 49826);
    applyText(CheckBox3, 49827);
    applyText(CheckBox4, 49828);
    applyText(CheckBox5, 49829);
    QLineEdit* edits[4] = {Edit1, Edit2, Edit3, Edit4};
    for (int i = 0; i < 4; ++i)
        applyHint(edits[i], 49830 + i);
    for (int i = 0; i < 5; ++i)
        applyText(m_labels[i], 49834 + i);
    applyText(SpeedButton2, 49839);
    applyHint(SpeedButton2, 49840);
    applyText(CheckBox6, 49960);
    applyText(m_passwordLabel, 49961);
    showHistoryDaysText(localText(HistoryText::KeepDays, keepDaysText));
    HistoryDays->setValue(HistoryRetention::load());
    // Room for the texts of the language in force.
    setFixedSize(QSize(312, 353).expandedTo(sizeHint()));

    Edit1->setText(cp1252::toUnicode(m_config.Server));
    Edit2->setText(cp1252::toUnicode(m_config.Porta));
    Edit3->setText(cp1252::toUnicode(m_config.Nick));
    Edit4->setText(cp1252::toUnicode(m_config.Host));
    CheckBox1->setChecked(isOn(m_config.Check));
    CheckBox2->setChecked(isOn(m_config.Mostra));
    CheckBox3->setChecked(isOn(m_config.Notifica));
    CheckBox4->setChecked(isOn(m_config.Popup));
    CheckBox5->setChecked(isOn(m_config.Suono));
    Edit5->setValue(m_config.Timer);
    CheckBox6->setChecked(ServerTrust::tlsEnabled());
    m_shownPassword = m_config.Nick.isEmpty() ? QByteArray() : ChatPassword::get(m_config.Nick);
    Edit6->setText(cp1252::toUnicode(m_shownPassword));
    CheckBox4Click();
}

void TForm1::showHistoryDaysText(const QString& text) {
    // One text with the number's place in it: the words before go in the label, those after follow
    // the number in the box.
    m_historyLabel->setText(text.section(u"%1"_s, 0, 0).trimmed());
    HistoryDays->setSuffix(text.section(u"%1"_s, 1).trimmed().prepend(u' '));
}

void TForm1::CheckBox4Click() {
    Edit5->setEnabled(CheckBox4->isChecked());
}

void TForm1::SpeedButton2Click() {
    Edit4->setText(cp1252::toUnicode(m_hostName ? m_hostName() : QByteArray()));
}

QString TForm1::refusal() {
    const QStringList forbidden = nickForbiddenCharacters(Edit3->text());
    if (!forbidden.isEmpty()) {
        Edit3->setFocus();
        return localText(ChatMessage::NickForbiddenCharacters, u"Il nick non pu\u00F2 contenere: %1"_s)
            .arg(forbidden.join(u' '));
    }
    for (QLineEdit* edit : {Edit1, Edit2, Edit3, Edit4, Edit6}) {
        if (const QString refused = unsendableCharactersMessage(edit->text()); !refused.isEmpty()) {
            edit->setFocus();
            return refused;
        }
    }
    return {};
}

void TForm1::accept() {
    if (const QString refused = refusal(); !refused.isEmpty()) {
        qCInfo(lcChat) << "settings refused:" << refused;
        if (m_boxes)
            m_boxes->warning(refused);
        return;
    }
    m_config.Server = cp1252::fromUnicode(Edit1->text());
    m_config.Porta = cp1252::fromUnicode(Edit2->text());
    m_config.Nick = cp1252::fromUnicode(Edit3->text());
    m_config.Host = cp1252::fromUnicode(Edit4->text());
    m_config.Timer = qint16(Edit5->value());
    m_config.Check = flag(CheckBox1);
    m_config.Mostra = flag(CheckBox2);
    m_config.Notifica = flag(CheckBox3);
    m_config.Popup = flag(CheckBox4);
    m_config.Suono = flag(CheckBox5);
    // A registry that cannot be written is logged here and reported by the save below.
    HistoryRetention::save(HistoryDays->value());
    ServerTrust::setTlsEnabled(CheckBox6->isChecked());
    const QByteArray password = cp1252::fromUnicode(Edit6->text());
    if (!m_config.Nick.isEmpty() && password != m_shownPassword && !ChatPassword::set(m_config.Nick, password))
        qCInfo(lcChat) << "no secret store: the password is kept in memory for this run only";
    try {
        UserConfigStore::save(m_config);
    } catch (const std::exception& failure) {
        m_saveError = QString::fromUtf8(failure.what());
        qCWarning(lcChat) << "settings not saved:" << failure.what();
    }
    QDialog::accept();
}

} // namespace vestrel::chat
