#pragma once

#include "versioninfo/VersionInfoReader.h"

#include <QObject>
#include <QPointer>

#include <QLabel>
#include <QTreeWidget>

namespace vestrel::versioninfo {

// The version-information component: reads a file's version block (by default the running
// program's) and offers its parts; optionally writes the most common values into up to four linked
// labels and a two-column list view. It does not own the linked controls; a control that is
// destroyed is unlinked.
//
// Like a component streamed in from a form, it reads once its properties are set: Loaded() runs
// when the event loop next turns after construction (or when called earlier); until then, and while
// designing, the controls are left alone. Setting Filename or ForceEXE reads at once.
class TVersionInfoResource : public QObject, public VersionInfoReader {
    Q_OBJECT
    Q_PROPERTY(QString Filename READ Filename WRITE SetFilename)
    Q_PROPERTY(bool ForceEXE READ ForceEXE WRITE SetForceEXE)
    Q_PROPERTY(QString Version READ Version WRITE SetVersion)
    Q_PROPERTY(QString CompanyName READ CompanyName)
    Q_PROPERTY(QString FileDescription READ FileDescription)
    Q_PROPERTY(QString InternalName READ InternalName)
    Q_PROPERTY(QString LegalCopyright READ LegalCopyright)
    Q_PROPERTY(QString LegalTrademarks READ LegalTrademarks)
    Q_PROPERTY(QString OriginalFilename READ OriginalFilename)
    Q_PROPERTY(QString ProductName READ ProductName)
    Q_PROPERTY(QString Comments READ Comments)

public:
    explicit TVersionInfoResource(QObject* parent = nullptr);

    // Reads the file and fills the controls; runs once by itself after construction.
    void Loaded();
    bool IsLoading() const { return m_loading; }
    // In a design environment the controls are not filled.
    void SetDesigning(bool designing) { m_designing = designing; }

    // The version text is fixed; writing it does nothing.
    void SetVersion(const QString&) {}

    QLabel* VersionLabel() const { return m_versionLabel; }
    void SetVersionLabel(QLabel* label);
    QLabel* CopyrightLabel() const { return m_copyrightLabel; }
    void SetCopyrightLabel(QLabel* label);
    QLabel* ProductLabel() const { return m_productLabel; }
    void SetProductLabel(QLabel* label);
    QLabel* DescriptionLabel() const { return m_descriptionLabel; }
    void SetDescriptionLabel(QLabel* label);
    QTreeWidget* VersionListView() const { return m_listView; }
    void SetVersionListView(QTreeWidget* listView);

    void PopulateControls() override;
    void BuildListView();

private:
    void linkLabel(QPointer<QLabel>& link, QLabel* label, TPreDef shownThere);

    bool m_loading = true;
    bool m_designing = false;
    QPointer<QLabel> m_versionLabel;
    QPointer<QLabel> m_copyrightLabel;
    QPointer<QLabel> m_productLabel;
    QPointer<QLabel> m_descriptionLabel;
    QPointer<QTreeWidget> m_listView;
};

} // namespace vestrel::versioninfo
