#include "chat/ui/HistorySearchDialog.h"

#include "chat/HistoryStore.h"
#include "chat/ui/HistoryTexts.h"
#include "chat/ui/LocalTexts.h"

#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTextBlock>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

namespace {

constexpr int idRole = Qt::UserRole;

QString contextLine(const HistoryLine& line) {
    return line.when.toLocalTime().toString(u"dd/MM/yyyy HH:mm"_s) + u"  "_s + line.paneText();
}

} // namespace

HistorySearchDialog::HistorySearchDialog(HistoryStore& store, QWidget* owner)
    : QDialog(owner)
    , m_store(store) {
    setObjectName(u"HistorySearch"_s);
    setWindowTitle(localText(HistoryText::SearchTitle, u"Cerca nella cronologia"_s));
    resize(640, 480);

    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(localText(HistoryText::SearchLabel, u"Cerca:"_s));
    SearchEdit = new QLineEdit;
    SearchEdit->setClearButtonEnabled(true);
    label->setBuddy(SearchEdit);
    layout->addWidget(label);
    layout->addWidget(SearchEdit);

    Results = new QTreeWidget;
    Results->setRootIsDecorated(false);
    Results->setUniformRowHeights(true); // thousands of results stay quick to lay out
    Results->setHeaderLabels(localText(HistoryText::ResultColumns, u"Data|Ora|Mittente|Messaggio"_s).split(u'|'));
    Results->header()->setStretchLastSection(true);
    Context = new QPlainTextEdit;
    Context->setReadOnly(true);
    Context->setLineWrapMode(QPlainTextEdit::NoWrap);
    Context->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(Results);
    split->addWidget(Context);
    layout->addWidget(split, 1);
    Status = new QLabel;
    layout->addWidget(Status);

    m_delay = new QTimer(this);
    m_delay->setSingleShot(true);
    m_delay->setInterval(SearchDelayMs);
    connect(m_delay, &QTimer::timeout, this, &HistorySearchDialog::runSearch);
    connect(SearchEdit, &QLineEdit::textChanged, m_delay, qOverload<>(&QTimer::start));
    connect(SearchEdit, &QLineEdit::returnPressed, this, &HistorySearchDialog::runSearch);
    connect(Results, &QTreeWidget::currentItemChanged, this, &HistorySearchDialog::showContext);
}

void HistorySearchDialog::runSearch() {
    m_delay->stop();
    Results->clear();
    Context->clear();
    const QList<HistoryLine> found = m_store.search(SearchEdit->text());
    QList<QTreeWidgetItem*> items;
    items.reserve(found.size());
    for (const HistoryLine& line : found) {
        const QDateTime when = line.when.toLocalTime();
        QString firstLine = line.body.section(u'\n', 0, 0);
        firstLine.remove(u'\r');
        auto* item = new QTreeWidgetItem(
            QStringList{when.toString(u"dd/MM/yyyy"_s), when.toString(u"HH:mm:ss"_s), line.sender, firstLine});
        item->setData(0, idRole, line.id);
        items.append(item);
    }
    Results->addTopLevelItems(items);
    Results->resizeColumnToContents(0);
    Results->resizeColumnToContents(1);
    Results->resizeColumnToContents(2);
    const bool searched = !SearchEdit->text().trimmed().isEmpty();
    Status->setText(searched && found.isEmpty() ? localText(HistoryText::NothingFound, u"Nessun messaggio trovato."_s)
                                                : QString());
}

void HistorySearchDialog::showContext(QTreeWidgetItem* item) {
    Context->clear();
    if (!item)
        return;
    const qint64 chosen = item->data(0, idRole).toLongLong();
    const QList<HistoryLine> lines = m_store.context(chosen, ContextLines);
    int chosenBlock = -1;
    QStringList shown;
    for (const HistoryLine& line : lines) {
        if (line.id == chosen)
            chosenBlock = int(shown.size());
        QString text = contextLine(line);
        text.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
        shown.append(text);
    }
    // Lines with line breaks span several blocks: count them to find where the chosen one starts.
    int block = 0;
    for (int i = 0; i < chosenBlock; ++i)
        block += int(shown[i].count(u'\n')) + 1;
    Context->setPlainText(shown.join(u'\n'));
    if (chosenBlock < 0)
        return;
    QTextCursor cursor(Context->document()->findBlockByNumber(block));
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    QTextEdit::ExtraSelection mark;
    mark.cursor = cursor;
    mark.format.setBackground(palette().highlight());
    mark.format.setForeground(palette().highlightedText());
    Context->setExtraSelections({mark});
    Context->setTextCursor(QTextCursor(cursor.block()));
    Context->centerCursor();
}

} // namespace vestrel::chat
