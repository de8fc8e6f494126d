#include "reminders/ui/RicorrImp.h"

#include "components/csLocale.h"
#include "components/ui/MessageBoxes.h"
#include "platform/Cp1252.h"
#include "reminders/DMMain.h"
#include "reminders/RecurrenceDetail.h"
#include "reminders/RemindersLog.h"
#include "reminders/RicorrEditor.h"
#include "reminders/RicorrGridModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <optional>

using namespace Qt::StringLiterals;

namespace vestrel::reminders {

namespace {

constexpr QSize DesignedSize{445, 364};
constexpr int DesignedPointSize = 8;
constexpr int ButtonBarHeight = 30;
constexpr int LeftColumnWidth = 173;
constexpr int MessagePanelHeight = 128;
constexpr int NomeColumnWidth = 142;
constexpr int CriterioColumnWidth = 21;

// Criterion items in list order with their CRITERIO values.
constexpr struct {
    const char16_t* text;
    int value;
} CriterionItems[] = {
    {u"Giornaliera", CriterioDaily}, {u"Settimanale", CriterioWeekly}, {u"Mensile", CriterioMonthly},
    {u"Annuale", CriterioYearly},    {u"Unico", CriterioOnce},
};

const char16_t* const NavigatorHints[] = {u"Primo",   u"Precedente", u"Successivo", u"Ultimo",  u"Nuovo",
                                          u"Elimina", u"Edit",       u"Salva",      u"Annulla", u"Refresh"};
const char16_t* const NavigatorGlyphs[] = {u"|\u25C0", u"\u25C0", u"\u25B6", u"\u25B6|", u"+",
                                           u"\u2212",  u"\u270E", u"\u2713", u"\u2715",  u"\u21BB"};
const char16_t* const Months[] = {u"Gennaio", u"Febbraio", u"Marzo",     u"Aprile",  u"Maggio",   u"Giugno",
                                  u"Luglio",  u"Agosto",   u"Settembre", u"Ottobre", u"Novembre", u"Dicembre"};
// Monday first: item w is ISO weekday w + 1, as the evaluation reads it.
const char16_t* const Weekdays[] = {u"Lunedi",  u"Martedi", u"Mercoledi", u"Giovedi",
                                    u"Venerdi", u"Sabato",  u"Domenica"};

constexpr int LocWindow = 54032;
constexpr int LocCancel = 54033;
constexpr int LocOk = 54034;
constexpr int LocInattiva = 54035;
constexpr int LocCriteria = 54036;
constexpr int LocLabel7 = 54041;
constexpr int LocLabel2 = 54045;
constexpr int LocColumns = 54051;
constexpr int LocHints = 54053;
constexpr int LocMonths = 54063;
constexpr int LocWeekdays = 54075;
constexpr int LocUnreadable = 54089;
constexpr int LocRetry = 54092;
constexpr int LocCancelLost = 54093;
constexpr int LocKeepMine = 54096;
constexpr int LocDetails = 54099;

QLabel* label(const QString& text, QWidget* parent) {
    auto* result = new QLabel(text, parent);
    result->setTextFormat(Qt::PlainText);
    return result;
}

QComboBox* fixedList(QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setEditable(false);
    return combo;
}

// The localised text, or the designed one when the language library has none for the number.
QString localised(int ident, const QString& designed) {
    const QString text = LocalString(ident);
    return text.isEmpty() ? designed : text;
}

void selectIfValid(QComboBox* combo, qint32 index) {
    if (index >= 0 && index < combo->count())
        combo->setCurrentIndex(index);
}

} // namespace

TRicorrImpDlg::TRicorrImpDlg(TDMCltRicorr& dm, MessageBoxes& boxes, QWidget* parent)
    : QDialog(parent)
    , m_dm(dm)
    , m_boxes(boxes)
    , m_editor(std::make_unique<TRicorrEditor>(dm.IBRicorr, dm.IBDatabaseConfig)) {
    setObjectName(u"RicorrImpDlg"_s);
    setWindowTitle(u"Impostazione ricorrenze"_s);
    // Laid out for an 8-point font: with the desktop's larger one the fields would not fit the window.
    QFont designed = font();
    designed.setPointSize(DesignedPointSize);
    setFont(designed);
    buildControls();
    resize(DesignedSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormCreate();
}

TRicorrImpDlg::~TRicorrImpDlg() {
    FormDestroy();
}

void TRicorrImpDlg::buildControls() {
    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    main->addWidget(Splitter1, 1);

    // Left column: the grid and its navigator.
    Panel5 = new QWidget(Splitter1);
    auto* left = new QVBoxLayout(Panel5);
    left->setContentsMargins(2, 2, 2, 2);
    left->setSpacing(2);
    cxGrid1 = new QTableView(Panel5);
    m_model = new RicorrGridModel(m_dm.IBRicorr, this);
    m_sorted = new QSortFilterProxyModel(this);
    m_sorted->setSourceModel(m_model);
    m_sorted->setSortCaseSensitivity(Qt::CaseInsensitive);
    m_sorted->setSortLocaleAware(true);
    cxGrid1->setModel(m_sorted);
    cxGrid1->setSortingEnabled(true);
    cxGrid1->sortByColumn(RicorrGridModel::ColumnNome, Qt::AscendingOrder);
    cxGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    cxGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    cxGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    cxGrid1->verticalHeader()->hide();
    cxGrid1->verticalHeader()->setDefaultSectionSize(cxGrid1->fontMetrics().height() + 4);
    cxGrid1->horizontalHeader()->setSectionResizeMode(RicorrGridModel::ColumnNome, QHeaderView::Stretch);
    cxGrid1->horizontalHeader()->setSectionResizeMode(RicorrGridModel::ColumnCriterio, QHeaderView::ResizeToContents);
    cxGrid1->horizontalHeader()->setMinimumSectionSize(CriterioColumnWidth);
    cxGrid1->setColumnWidth(RicorrGridModel::ColumnNome, NomeColumnWidth);
    cxGrid1->setWordWrap(false);
    left->addWidget(cxGrid1, 1);
    connect(cxGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &TRicorrImpDlg::gridRowActivated);

    DBNavigator1 = new QWidget(Panel5);
    auto* navigator = new QHBoxLayout(DBNavigator1);
    navigator->setContentsMargins(0, 0, 0, 0);
    navigator->setSpacing(0);
    for (int i = 0; i < NavigatorButtonCount; ++i) {
        auto* button = new QToolButton(DBNavigator1);
        button->setText(QString::fromUtf16(NavigatorGlyphs[i]));
        button->setToolTip(QString::fromUtf16(NavigatorHints[i]));
        button->setAutoRaise(false);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        // Only first, prior, next, last, insert and delete are offered.
        button->setVisible(i <= nbDelete);
        navigator->addWidget(button);
        connect(button, &QToolButton::clicked, this, [this, i] { NavigatorClick(NavigatorButton(i)); });
        NavigatorButtons[i] = button;
    }
    left->addWidget(DBNavigator1);
    Panel5->setMinimumWidth(LeftColumnWidth / 2);

    // Right part: the fields of the current reminder.
    auto* right = new QWidget(Splitter1);
    auto* fields = new QVBoxLayout(right);
    fields->setContentsMargins(6, 4, 6, 2);
    fields->setSpacing(3);
    cxDBTextEdit1 = new QLineEdit(right);
    cxDBTextEdit1->setMaxLength(60);
    fields->addWidget(cxDBTextEdit1);
    connect(cxDBTextEdit1, &QLineEdit::textEdited, this,
            [this](const QString& text) { editText("DESCRIZIONE", text); });
    cxDBCheckBox1 = new QCheckBox(u"Inattiva"_s, right);
    fields->addWidget(cxDBCheckBox1);
    connect(cxDBCheckBox1, &QCheckBox::clicked, this,
            [this](bool checked) { editValue("FINACTIVE", checked ? "1" : "0"); });

    Label7 = label(u"Criterio di ricorrenza"_s, right);
    fields->addWidget(Label7);
    cxDBImageComboBox1 = fixedList(right);
    for (const auto& item : CriterionItems)
        cxDBImageComboBox1->addItem(QString::fromUtf16(item.text), item.value);
    fields->addWidget(cxDBImageComboBox1);
    connect(cxDBImageComboBox1, &QComboBox::activated, this, [this](int index) {
        if (m_loadingRow || index < 0)
            return;
        if (report(m_editor->SetCriterion(cxDBImageComboBox1->itemData(index).toInt())))
            cxDBImageComboBox1PropertiesCloseUp();
    });

    auto* details = new QWidget(right);
    auto* detailLayout = new QVBoxLayout(details);
    detailLayout->setContentsMargins(0, 2, 0, 2);
    buildDetailPanels(details);
    fields->addWidget(details, 1);

    auto* operatorRow = new QHBoxLayout;
    Label8 = label(u"Solo per l'operatore"_s, right);
    cxDBLookupComboBox1 = fixedList(right);
    operatorRow->addWidget(Label8);
    operatorRow->addWidget(cxDBLookupComboBox1, 1);
    fields->addLayout(operatorRow);
    auto* workstationRow = new QHBoxLayout;
    Label9 = label(u"Solo per la postazione"_s, right);
    cxDBLookupComboBox2 = fixedList(right);
    workstationRow->addWidget(Label9);
    workstationRow->addWidget(cxDBLookupComboBox2, 1);
    fields->addLayout(workstationRow);
    connect(cxDBLookupComboBox1, &QComboBox::activated, this,
            [this](int index) { editValue("UTENTE", cxDBLookupComboBox1->itemData(index).toByteArray()); });
    connect(cxDBLookupComboBox2, &QComboBox::activated, this,
            [this](int index) { editValue("POSTAZIONE", cxDBLookupComboBox2->itemData(index).toByteArray()); });

    Panel6 = new QWidget(right);
    Panel6->setFixedHeight(MessagePanelHeight);
    auto* message = new QVBoxLayout(Panel6);
    message->setContentsMargins(0, 0, 0, 0);
    message->setSpacing(1);
    Label1 = label(u"Messaggio"_s, Panel6);
    message->addWidget(Label1);
    cxDBMemo1 = new QPlainTextEdit(Panel6);
    message->addWidget(cxDBMemo1, 1);
    fields->addWidget(Panel6);
    connect(cxDBMemo1, &QPlainTextEdit::textChanged, this, [this] {
        // Stored messages keep the Windows line ends.
        QString text = cxDBMemo1->toPlainText();
        text.replace(u'\n', u"\r\n"_s);
        editText("MESSAGGIO", text);
    });

    Splitter1->addWidget(Panel5);
    Splitter1->addWidget(right);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({LeftColumnWidth, DesignedSize.width() - LeftColumnWidth});

    // Bottom bar with the two buttons.
    Panel1 = new QWidget(this);
    Panel1->setFixedHeight(ButtonBarHeight);
    auto* buttons = new QHBoxLayout(Panel1);
    buttons->setContentsMargins(4, 2, 4, 2);
    buttons->addStretch(1);
    OKBtn = new QPushButton(u"OK"_s, Panel1);
    OKBtn->setDefault(true);
    OKBtn->setAutoDefault(true);
    CancelBtn = new QPushButton(u"Cancel"_s, Panel1);
    CancelBtn->setAutoDefault(false);
    RetryBtn = new QPushButton(u"Riprova"_s, Panel1);
    RetryBtn->setAutoDefault(false);
    RetryBtn->hide();
    buttons->insertWidget(0, RetryBtn);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    main->addWidget(Panel1);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(RetryBtn, &QPushButton::clicked, this, &TRicorrImpDlg::RetryBtnClick);

    setTabOrder(cxGrid1, cxDBTextEdit1);
}

void TRicorrImpDlg::buildDetailPanels(QWidget* parent) {
    auto* layout = parent->layout();
    auto panel = [&](QWidget*& target) {
        target = new QWidget(parent);
        auto* row = new QHBoxLayout(target);
        row->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(target);
        return row;
    };

    QHBoxLayout* row = panel(PanelUnico);
    Label10 = label(u"Una sola volta"_s, PanelUnico);
    row->addWidget(Label10);
    row->addStretch(1);

    row = panel(PanelGiorno);
    Label6 = label(u"Tutti i giorni"_s, PanelGiorno);
    row->addWidget(Label6);
    row->addStretch(1);

    row = panel(PanelSett);
    Label5 = label(u"Il giorno"_s, PanelSett);
    ComboDay = fixedList(PanelSett);
    for (const char16_t* day : Weekdays)
        ComboDay->addItem(QString::fromUtf16(day));
    row->addWidget(Label5);
    row->addWidget(ComboDay);
    row->addStretch(1);
    connect(ComboDay, &QComboBox::activated, this, &TRicorrImpDlg::ComboDayPropertiesCloseUp);

    row = panel(PanelMese);
    Label3 = label(u"Il giorno"_s, PanelMese);
    ComboGiornoMensile = fixedList(PanelMese);
    for (int day = 1; day <= 31; ++day)
        ComboGiornoMensile->addItem(QString::number(day));
    Label4 = label(u"di ogni mese"_s, PanelMese);
    row->addWidget(Label3);
    row->addWidget(ComboGiornoMensile);
    row->addWidget(Label4);
    row->addStretch(1);
    connect(ComboGiornoMensile, &QComboBox::activated, this, &TRicorrImpDlg::ComboGiornoMensilePropertiesCloseUp);

    row = panel(PanelAnno);
    Label2 = label(u"Il giorno"_s, PanelAnno);
    ComboGiorno = fixedList(PanelAnno);
    for (int day = 1; day <= 31; ++day)
        ComboGiorno->addItem(QString::number(day));
    ComboMesi = fixedList(PanelAnno);
    for (const char16_t* month : Months)
        ComboMesi->addItem(QString::fromUtf16(month));
    row->addWidget(Label2);
    row->addWidget(ComboGiorno);
    row->addWidget(ComboMesi);
    row->addStretch(1);
    connect(ComboGiorno, &QComboBox::activated, this, &TRicorrImpDlg::ComboMesiPropertiesEditValueChanged);
    connect(ComboMesi, &QComboBox::activated, this, &TRicorrImpDlg::ComboMesiPropertiesEditValueChanged);

    static_cast<QVBoxLayout*>(layout)->addStretch(1);
    PanelAnno->hide();
}

void TRicorrImpDlg::FormCreate() {
    SelectLanguage(u"VE"_s);
    m_editor->EnterGuard();
    ComboMesi->setCurrentIndex(0);
    ComboGiorno->setCurrentIndex(0);
    m_editor->LeaveGuard();

    fillLookups();
    fb::DataSet& ricorr = m_dm.IBRicorr;
    ricorr.AfterScroll = [this] {
        loadRow();
        ShowCriterionPanel();
        selectCurrentInGrid();
    };
    ricorr.OnRowsChanged = [this] {
        m_model->reload();
        selectCurrentInGrid();
    };
    m_model->reload();
    if (ricorr.Active())
        report(m_editor->MoveTo(0));
}

void TRicorrImpDlg::FormDestroy() {
    m_dm.IBRicorr.AfterScroll = nullptr;
    m_dm.IBRicorr.OnRowsChanged = nullptr;
}

void TRicorrImpDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        // The layout grows the window while its controls still have the larger unpolished font; once
        // they are polished the designed size fits.
        QTimer::singleShot(0, this, [this] { resize(DesignedSize); });
        FormShow();
        cxGrid1->setFocus();
    }
}

void TRicorrImpDlg::FormShow() {
    LocalizeCaptions();
}

void TRicorrImpDlg::LocalizeCaptions() {
    setWindowTitle(localised(LocWindow, windowTitle()));
    CancelBtn->setText(localised(LocCancel, CancelBtn->text()));
    OKBtn->setText(localised(LocOk, OKBtn->text()));
    RetryBtn->setText(localised(LocRetry, RetryBtn->text()));
    cxDBCheckBox1->setText(localised(LocInattiva, cxDBCheckBox1->text()));
    for (int i = 0; i < cxDBImageComboBox1->count(); ++i)
        cxDBImageComboBox1->setItemText(i, localised(LocCriteria + i, cxDBImageComboBox1->itemText(i)));
    QLabel* const labels[] = {Label7, Label1, Label8, Label9, Label2, Label6, Label3, Label4, Label5, Label10};
    for (int i = 0; i < int(std::size(labels)); ++i)
        labels[i]->setText(localised(LocLabel7 + i, labels[i]->text()));
    m_model->setHeaders(localised(LocColumns, m_model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString()),
                        localised(LocColumns + 1, m_model->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString()));
    for (int i = 0; i < NavigatorButtonCount; ++i)
        NavigatorButtons[i]->setToolTip(localised(LocHints + i, NavigatorButtons[i]->toolTip()));
    for (int i = 0; i < ComboMesi->count(); ++i)
        ComboMesi->setItemText(i, localised(LocMonths + i, ComboMesi->itemText(i)));
    for (int i = 0; i < ComboDay->count(); ++i)
        ComboDay->setItemText(i, localised(LocWeekdays + i, ComboDay->itemText(i)));
}

void TRicorrImpDlg::HideAllPanels() {
    for (QWidget* panel : {PanelUnico, PanelGiorno, PanelSett, PanelMese, PanelAnno})
        panel->hide();
}

void TRicorrImpDlg::showPanel(QWidget* panel) {
    HideAllPanels();
    panel->show();
}

void TRicorrImpDlg::ShowCriterionPanel() {
    fb::DataSet& ricorr = m_dm.IBRicorr;
    if (m_editor->UpdatingGuard() || !ricorr.Active() || ricorr.RecordCount() == 0)
        return;
    m_editor->EnterGuard();
    // An unreadable detail is logged; the panel then keeps its last selection (a yearly one shows the
    // first day of the first month).
    const auto detail = [&ricorr](int count) -> std::optional<DetailNumbers> {
        try {
            return ScanDetail(ricorr.FieldByName("SOTTOCRITERIO").asText(), count);
        } catch (const std::exception& e) {
            qCWarning(lcReminders).noquote() << "cannot read the detail of the current reminder:" << e.what();
            return std::nullopt;
        }
    };
    try {
        switch (ricorr.FieldByName("CRITERIO").asInt64()) {
        case CriterioOnce:
            showPanel(PanelUnico);
            break;
        case CriterioDaily:
            showPanel(PanelGiorno);
            break;
        case CriterioWeekly:
            HideAllPanels();
            if (const auto numbers = detail(1))
                selectIfValid(ComboDay, numbers->first);
            PanelSett->show();
            break;
        case CriterioMonthly:
            HideAllPanels();
            if (const auto numbers = detail(1))
                selectIfValid(ComboGiornoMensile, numbers->first);
            PanelMese->show();
            break;
        case CriterioYearly: {
            HideAllPanels();
            const DetailNumbers numbers = detail(2).value_or(DetailNumbers{});
            selectIfValid(ComboMesi, numbers.second);
            selectIfValid(ComboGiorno, numbers.first);
            PanelAnno->show();
            break;
        }
        default:
            break; // another value leaves the panel shown before
        }
    } catch (const std::exception& e) {
        qCWarning(lcReminders).noquote() << "cannot show the criterion of the current reminder:" << e.what();
    }
    m_editor->LeaveGuard();
}

bool TRicorrImpDlg::UpdatingGuard() const {
    return m_editor->UpdatingGuard();
}

void TRicorrImpDlg::ComboMesiPropertiesEditValueChanged() {
    report(m_editor->WriteDetail(EncodeDetail(ComboGiorno->currentIndex(), ComboMesi->currentIndex())));
}

void TRicorrImpDlg::ComboGiornoMensilePropertiesCloseUp() {
    report(m_editor->WriteDetail(EncodeDetail(ComboGiornoMensile->currentIndex())));
}

void TRicorrImpDlg::ComboDayPropertiesCloseUp() {
    report(m_editor->WriteDetail(EncodeDetail(ComboDay->currentIndex())));
}

void TRicorrImpDlg::cxDBImageComboBox1PropertiesCloseUp() {
    ShowCriterionPanel();
}

void TRicorrImpDlg::fillLookups() {
    const auto fill = [](QComboBox* combo, const fb::DataSet& dataSet) {
        combo->clear();
        combo->addItem(QString(), QByteArray()); // no restriction
        if (!dataSet.Active())
            return;
        for (qsizetype i = 0; i < dataSet.RecordCount(); ++i) {
            try {
                const fb::Row& row = dataSet.RowAt(i);
                combo->addItem(cp1252::toUnicode(row.FieldByName("DESCRIZIONE").asText()),
                               row.FieldByName("SIGLA").asText());
            } catch (const std::exception& e) {
                qCWarning(lcReminders).noquote() << "a lookup row cannot be listed:" << e.what();
            }
        }
    };
    fill(cxDBLookupComboBox1, m_dm.IBOp);
    fill(cxDBLookupComboBox2, m_dm.IBPost);
}

void TRicorrImpDlg::loadRow() {
    m_loadingRow = true;
    const fb::DataSet& ricorr = m_dm.IBRicorr;
    const bool hasRow = ricorr.Active() && ricorr.RecordCount() > 0;
    QList<QByteArray> unreadable;
    const auto text = [&](const char* field) -> QByteArray {
        try {
            return hasRow ? ricorr.FieldByName(field).asText() : QByteArray();
        } catch (const std::exception& e) {
            qCWarning(lcReminders).noquote() << "cannot show" << field << "of the current reminder:" << e.what();
            unreadable.append(field);
            return {};
        }
    };
    cxDBTextEdit1->setText(cp1252::toUnicode(text("DESCRIZIONE")));
    cxDBCheckBox1->setChecked(text("FINACTIVE") == "1");
    bool ok = false;
    const int criterio = text("CRITERIO").toInt(&ok);
    cxDBImageComboBox1->setCurrentIndex(ok ? cxDBImageComboBox1->findData(criterio) : -1);
    QString message = cp1252::toUnicode(text("MESSAGGIO"));
    message.replace(u"\r\n"_s, u"\n"_s);
    cxDBMemo1->setPlainText(message);
    const auto selectCode = [](QComboBox* combo, const QByteArray& code) {
        int index = combo->findData(code);
        if (index < 0) {
            combo->addItem(QString::fromLatin1(code), code); // a code without a row of its own
            index = combo->count() - 1;
        }
        combo->setCurrentIndex(index);
    };
    selectCode(cxDBLookupComboBox1, text("UTENTE"));
    selectCode(cxDBLookupComboBox2, text("POSTAZIONE"));
    for (QWidget* w : {static_cast<QWidget*>(cxDBTextEdit1), static_cast<QWidget*>(cxDBCheckBox1),
                       static_cast<QWidget*>(cxDBImageComboBox1), static_cast<QWidget*>(cxDBMemo1),
                       static_cast<QWidget*>(cxDBLookupComboBox1), static_cast<QWidget*>(cxDBLookupComboBox2)})
        w->setEnabled(hasRow);
    // A name the connection cannot convert is marked and kept as it is stored: editing it would
    // replace a text nobody can see. The row's other fields stay editable.
    const bool nameUnreadable = unreadable.contains("DESCRIZIONE");
    cxDBTextEdit1->setReadOnly(nameUnreadable);
    cxDBTextEdit1->setPlaceholderText(nameUnreadable ? localised(LocUnreadable, u"(testo non leggibile)"_s)
                                                     : QString());
    for (const auto& [combo, field] :
         {std::pair{cxDBLookupComboBox1, "UTENTE"}, std::pair{cxDBLookupComboBox2, "POSTAZIONE"}}) {
        if (unreadable.contains(field))
            combo->setEnabled(false);
    }
    m_loadingRow = false;
}

void TRicorrImpDlg::selectCurrentInGrid() {
    const qsizetype recNo = m_dm.IBRicorr.Active() ? m_dm.IBRicorr.RecNo() : -1;
    const QModelIndex proxy = recNo < 0 ? QModelIndex() : m_sorted->mapFromSource(m_model->index(int(recNo), 0));
    if (proxy.row() == cxGrid1->currentIndex().row() && proxy.isValid() == cxGrid1->currentIndex().isValid())
        return;
    const bool loading = m_loadingRow;
    m_loadingRow = true;
    cxGrid1->setCurrentIndex(proxy);
    if (proxy.isValid())
        cxGrid1->scrollTo(proxy);
    m_loadingRow = loading;
}

void TRicorrImpDlg::gridRowActivated() {
    if (m_loadingRow)
        return;
    const QModelIndex current = cxGrid1->currentIndex();
    if (!current.isValid())
        return;
    const int row = m_sorted->mapToSource(current).row();
    if (row == m_dm.IBRicorr.RecNo())
        return;
    if (!report(m_editor->MoveTo(row)))
        selectCurrentInGrid(); // the edit of the row left behind could not be stored: stay on it
}

void TRicorrImpDlg::NavigatorClick(NavigatorButton button) {
    fb::DataSet& ricorr = m_dm.IBRicorr;
    if (!ricorr.Active())
        return;
    // Moves follow the grid's order, as the user sees the list.
    const int count = m_sorted->rowCount();
    const int current = cxGrid1->currentIndex().isValid() ? cxGrid1->currentIndex().row() : 0;
    const auto moveToGridRow = [&](int gridRow) {
        if (count == 0)
            return;
        const int row = m_sorted->mapToSource(m_sorted->index(std::clamp(gridRow, 0, count - 1), 0)).row();
        report(m_editor->MoveTo(row));
    };
    switch (button) {
    case nbFirst:
        moveToGridRow(0);
        break;
    case nbPrior:
        moveToGridRow(current - 1);
        break;
    case nbNext:
        moveToGridRow(current + 1);
        break;
    case nbLast:
        moveToGridRow(count - 1);
        break;
    case nbInsert:
        report(m_editor->Append());
        break;
    case nbDelete:
        if (ricorr.RecordCount() > 0 && m_boxes.question(u"Eliminare il record?"_s))
            report(m_editor->Delete());
        break;
    case nbEdit:
        report(m_editor->Edit());
        break;
    case nbPost:
        report(m_editor->Post());
        break;
    case nbCancel:
        m_editor->Cancel();
        break;
    case nbRefresh:
        report(m_editor->Refresh());
        break;
    }
}

void TRicorrImpDlg::editText(const char* field, const QString& text) {
    if (m_loadingRow)
        return;
    // Text cp1252 cannot hold is refused when the edit is posted or saved, naming the characters; the
    // widget keeps it meanwhile so that the user can mend it.
    const bool ok = m_editor->SetText(field, text);
    if (!ok && m_editor->LastFailure().kind != EditorFailure::Kind::Refused)
        report(ok);
}

void TRicorrImpDlg::editValue(const char* field, const QByteArray& value) {
    if (m_loadingRow)
        return;
    report(m_editor->SetValue(field, fb::Value::fromText(value)));
}

bool TRicorrImpDlg::report(bool ok) {
    while (!ok) {
        const EditorFailure failure = m_editor->LastFailure();
        if (failure.kind == EditorFailure::Kind::RowChanged && m_editor->Conflict()) {
            // Both versions side by side; the user keeps one of them.
            QString text = failure.text + u"\n"_s;
            for (const RowConflict::Column& column : m_editor->Conflict()->columns)
                text += u"\n%1: «%2» / «%3»"_s.arg(QString::fromLatin1(column.name), cp1252::toUnicode(column.theirs),
                                                   cp1252::toUnicode(column.mine));
            text += u"\n\n"_s + localised(LocKeepMine, u"Tenere la versione di questa finestra (Sì) o quella salvata "
                                                       u"dall'altro operatore (No)?"_s);
            ok = m_editor->ResolveConflict(m_boxes.question(text));
            if (ok)
                loadRow();
            continue;
        }
        QString text = failure.text;
        if (!failure.details.isEmpty() && failure.kind != EditorFailure::Kind::Other)
            text += u"\n\n"_s + localised(LocDetails, u"Dettagli:"_s) + u' ' + failure.details;
        m_boxes.error(text);
        break;
    }
    RetryBtn->setVisible(m_editor->ConnectionLost());
    return ok;
}

void TRicorrImpDlg::RetryBtnClick() {
    if (report(m_editor->Reconnect()))
        loadRow();
}

bool TRicorrImpDlg::save() {
    bool ok = m_editor->Save();
    // A conflict resolved, the save goes on with the version kept.
    while (!ok && m_editor->LastFailure().kind == EditorFailure::Kind::RowChanged && m_editor->Conflict()) {
        if (!report(false))
            return false;
        ok = m_editor->Save();
    }
    return report(ok);
}

bool TRicorrImpDlg::FormCloseQuery(bool ok) {
    if (ok)
        return save();
    if (m_editor->Discard())
        return true;
    // The connection is gone with edits not saved: they would be lost for good.
    if (!m_boxes.question(localised(LocCancelLost, u"La connessione al database è interrotta e le modifiche "
                                                   u"non sono state salvate.\nChiudere e perderle?"_s))) {
        RetryBtn->setVisible(true);
        return false;
    }
    m_editor->DiscardAnyway();
    return true;
}

void TRicorrImpDlg::done(int result) {
    if (!FormCloseQuery(result == QDialog::Accepted))
        return;
    QDialog::done(result);
}

} // namespace vestrel::reminders
