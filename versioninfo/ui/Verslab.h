#pragma once

#include "versioninfo/VersionLabelModel.h"

#include <QLabel>

namespace vestrel::versioninfo {

// A label that shows one item of a file's version information, or the file's date or size,
// optionally after a prefix such as "File Version:". It reads the file again each time one of its
// settings changes; every failure shows as a text in angle brackets. The rules are VersionLabelModel's.
class TVersionLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString VersionResourceKey READ VersionResourceKey WRITE SetVersionResourceKey)
    Q_PROPERTY(QString InfoPrefix READ InfoPrefix WRITE SetInfoPrefix)
    Q_PROPERTY(bool ShowInfoPrefix READ ShowInfoPrefix WRITE SetShowInfoPrefix)
    Q_PROPERTY(QString LangCharset READ LangCharset WRITE SetLangCharset)
    Q_PROPERTY(QString Filename READ Filename WRITE SetFilename)
    Q_PROPERTY(QString DateTimeFormat READ DateTimeFormat WRITE SetDateTimeFormat)
    Q_PROPERTY(QString FileSizeFormat READ FileSizeFormat WRITE SetFileSizeFormat)
    Q_PROPERTY(QString InfoString READ InfoString)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)

public:
    explicit TVersionLabel(QWidget* parent = nullptr);

    TVersionResources VersionResource() const { return m_model.VersionResource(); }
    void SetVersionResource(TVersionResources resource) { m_model.SetVersionResource(resource); }
    QString VersionResourceKey() const { return m_model.VersionResourceKey(); }
    void SetVersionResourceKey(const QString& key) { m_model.SetVersionResourceKey(key); }
    QString InfoPrefix() const { return m_model.InfoPrefix(); }
    void SetInfoPrefix(const QString& prefix) { m_model.SetInfoPrefix(prefix); }
    bool ShowInfoPrefix() const { return m_model.ShowInfoPrefix(); }
    void SetShowInfoPrefix(bool show) { m_model.SetShowInfoPrefix(show); }
    QString LangCharset() const { return m_model.LangCharset(); }
    void SetLangCharset(const QString& langCharset) { m_model.SetLangCharset(langCharset); }
    QString Filename() const { return m_model.Filename(); }
    void SetFilename(const QString& filename) { m_model.SetFilename(filename); }
    QString DateTimeFormat() const { return m_model.DateTimeFormat(); }
    void SetDateTimeFormat(const QString& format) { m_model.SetDateTimeFormat(format); }
    QString FileSizeFormat() const { return m_model.FileSizeFormat(); }
    void SetFileSizeFormat(const QString& format) { m_model.SetFileSizeFormat(format); }
    QString InfoString() const { return m_model.InfoString(); }

    // The label takes the size of its text (default true).
    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool autoSize);
    // In a design environment no file is read.
    void SetDesigning(bool designing);

private:
    void showCaption(const QString& caption);

    VersionLabelModel m_model;
    bool m_autoSize = true;
};

} // namespace vestrel::versioninfo
