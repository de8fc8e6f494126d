#include "versioninfo/ui/VersInfo.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>

namespace vestrel::versioninfo {

TVersionInfoResource::TVersionInfoResource(QObject* parent)
    : QObject(parent) {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_loading)
                Loaded();
        },
        Qt::QueuedConnection);
}

void TVersionInfoResource::Loaded() {
    m_loading = false;
    ReadVersionInfoData();
}

void TVersionInfoResource::linkLabel(QPointer<QLabel>& link, QLabel* label, TPreDef shownThere) {
    link = label;
    if (!label)
        return;
    // Values come from the file: never read them as markup.
    label->setTextFormat(Qt::PlainText);
    HideFromListView(shownThere);
    PopulateControls();
}

void TVersionInfoResource::SetVersionLabel(QLabel* label) {
    linkLabel(m_versionLabel, label, pdFileVersion);
}

void TVersionInfoResource::SetCopyrightLabel(QLabel* label) {
    linkLabel(m_copyrightLabel, label, pdLegalCopyright);
}

void TVersionInfoResource::SetProductLabel(QLabel* label) {
    linkLabel(m_productLabel, label, pdProductName);
}

void TVersionInfoResource::SetDescriptionLabel(QLabel* label) {
    linkLabel(m_descriptionLabel, label, pdFileDescription);
}

void TVersionInfoResource::SetVersionListView(QTreeWidget* listView) {
    m_listView = listView;
    if (listView)
        PopulateControls();
}

void TVersionInfoResource::PopulateControls() {
    if (m_loading || m_designing)
        return;
    if (m_versionLabel)
        m_versionLabel->setText(FileVersion().GetVersionNumberString());
    if (m_copyrightLabel)
        m_copyrightLabel->setText(GetVersionInfoString(pdLegalCopyright));
    if (m_productLabel)
        m_productLabel->setText(GetVersionInfoString(pdProductName));
    if (m_descriptionLabel)
        m_descriptionLabel->setText(GetVersionInfoString(pdFileDescription));
    if (m_listView)
        BuildListView();
}

void TVersionInfoResource::BuildListView() {
    if (!m_listView)
        return;
    QTreeWidget* view = m_listView;
    view->clear();
    // Report style: a flat, read-only table whose headers do not sort.
    view->setColumnCount(2);
    view->setHeaderLabels({QCoreApplication::translate("TVersionInfoResource", "Resource"),
                           QCoreApplication::translate("TVersionInfoResource", "Value")});
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSortingEnabled(false);
    view->header()->setSectionsClickable(false);
    view->header()->setStretchLastSection(true);
    for (const ListRow& row : ListViewRows())
        new QTreeWidgetItem(view, {row.caption, row.value});
    // The caption column fits its header and its captions; the value column takes the rest.
    view->resizeColumnToContents(0);
}

} // namespace vestrel::versioninfo
