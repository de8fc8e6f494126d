#include "platform/VersionBlock.h"

#include <QtEndian>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

// wLength, wValueLength and wType come before the key.
constexpr qsizetype kNodeHeader = 6;

// Nodes, keys and values start on 32-bit boundaries counted from the start of the block.
qsizetype align4(qsizetype offset) {
    return (offset + 3) & ~qsizetype(3);
}

std::uint16_t word(QByteArrayView bytes, qsizetype at) {
    return qFromLittleEndian<std::uint16_t>(bytes.data() + at);
}

// UTF-16 text from `begin` up to its NUL or `end`; `stop` receives the offset after the NUL.
QString utf16Until(QByteArrayView bytes, qsizetype begin, qsizetype end, qsizetype* stop = nullptr) {
    qsizetype at = begin;
    while (at + 2 <= end && word(bytes, at) != 0)
        at += 2;
    const qsizetype units = (at - begin) / 2;
    // Every unit as stored, a byte-order mark or half a surrogate pair included.
    QString text;
    if (units > 0) {
        text.resize(units);
        qFromLittleEndian<std::uint16_t>(bytes.data() + begin, units, text.data());
    }
    if (at + 2 <= end)
        at += 2; // past the NUL
    if (stop)
        *stop = std::min(at, end);
    return text;
}

// Reads nodes at offsets of one block.
struct NodeReader {
    QByteArrayView block;

    std::optional<VersionNode> read(qsizetype offset, qsizetype limit, qsizetype* next) const {
        if (offset < 0 || limit > block.size() || limit - offset < kNodeHeader)
            return std::nullopt;
        const std::uint16_t length = word(block, offset);
        if (length < kNodeHeader) // 0 ends the list; anything else this short cannot be a node
            return std::nullopt;
        const qsizetype end = std::min<qsizetype>(offset + length, limit);
        VersionNode node;
        node.valueLength = word(block, offset + 2);
        node.isText = word(block, offset + 4) == 1;
        qsizetype keyEnd = 0;
        node.key = utf16Until(block, offset + kNodeHeader, end, &keyEnd);
        // A key without its NUL takes the node: no value or children follow (an odd last byte is no value).
        const bool keyEnded = keyEnd >= offset + kNodeHeader + 2 && word(block, keyEnd - 2) == 0;
        const qsizetype valueStart = keyEnded ? std::min(align4(keyEnd), end) : end;
        // A text value runs to its NUL within the node, whatever unit wValueLength counts in.
        const qsizetype storedBytes = qsizetype(node.valueLength) * (node.isText ? 2 : 1);
        const qsizetype valueEnd = node.valueLength == 0 ? valueStart
                                   : node.isText         ? end
                                                         : std::min(valueStart + storedBytes, end);
        node.value = block.sliced(valueStart, valueEnd - valueStart);
        const qsizetype childStart = std::min(align4(valueStart + storedBytes), end);
        node.block = block;
        node.childBegin = childStart;
        node.childEnd = end;
        if (next)
            *next = align4(offset + length);
        return node;
    }
};

} // namespace

QString VersionNode::text() const {
    if (!isText)
        return QString();
    return utf16Until(value, 0, value.size());
}

std::vector<VersionNode> VersionNode::children() const {
    std::vector<VersionNode> result;
    const NodeReader reader{block};
    qsizetype offset = childBegin;
    while (offset < childEnd) {
        qsizetype next = 0;
        auto child = reader.read(offset, childEnd, &next);
        if (!child)
            break;
        result.push_back(std::move(*child));
        offset = next;
    }
    return result;
}

std::optional<VersionNode> VersionNode::child(QStringView key) const {
    for (VersionNode& c : children()) {
        if (QStringView(c.key).compare(key, Qt::CaseInsensitive) == 0)
            return std::move(c);
    }
    return std::nullopt;
}

std::optional<VersionNode> readVersionBlock(QByteArrayView block) {
    return NodeReader{block}.read(0, block.size(), nullptr);
}

std::optional<VersionNode> findVersionNode(QByteArrayView block, QStringView path) {
    auto node = readVersionBlock(block);
    for (const QStringView segment : path.tokenize(u'\\', Qt::SkipEmptyParts)) {
        if (!node)
            return std::nullopt;
        node = node->child(segment);
    }
    return node;
}

QString VersionTranslation::id() const {
    const std::uint32_t both = (std::uint32_t(language) << 16) | codePage;
    QString id(8, Qt::Uninitialized);
    for (int i = 0; i < 8; ++i)
        id[i] = QLatin1Char("0123456789ABCDEF"[(both >> (28 - 4 * i)) & 0xF]);
    return id;
}

std::vector<VersionTranslation> versionTranslations(QByteArrayView block) {
    const auto root = readVersionBlock(block);
    return root ? versionTranslations(*root) : std::vector<VersionTranslation>();
}

std::vector<VersionTranslation> versionTranslations(const VersionNode& root) {
    std::vector<VersionTranslation> result;
    const auto varFileInfo = root.child(u"VarFileInfo");
    const auto node = varFileInfo ? varFileInfo->child(u"Translation") : std::nullopt;
    if (!node)
        return result;
    for (qsizetype at = 0; at + 4 <= node->value.size(); at += 4)
        result.push_back(VersionTranslation{word(node->value, at), word(node->value, at + 2)});
    return result;
}

FixedFileInfo FixedFileInfo::fromBytes(QByteArrayView value) {
    std::uint32_t fields[13] = {};
    for (int i = 0; i < 13 && (i + 1) * 4 <= value.size(); ++i)
        fields[i] = qFromLittleEndian<std::uint32_t>(value.data() + i * 4);
    FixedFileInfo info;
    info.signature = fields[0];
    info.structureVersion = fields[1];
    info.fileVersionMS = fields[2];
    info.fileVersionLS = fields[3];
    info.productVersionMS = fields[4];
    info.productVersionLS = fields[5];
    info.fileFlagsMask = fields[6];
    info.fileFlags = fields[7];
    info.fileOS = fields[8];
    info.fileType = fields[9];
    info.fileSubtype = fields[10];
    info.fileDateMS = fields[11];
    info.fileDateLS = fields[12];
    return info;
}

} // namespace vestrel
