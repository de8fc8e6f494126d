#pragma once

// Internal to fb/: the client library's parameter-block builder (DPB, SPB, ...) with errors as FbError.

#include "fb/Api.h"

#include <QByteArray>

namespace vestrel::fb::detail {

class XpbBuilder {
public:
    // `kind` is one of Firebird::IXpbBuilder's block kinds (DPB, SPB_ATTACH, SPB_START, ...).
    explicit XpbBuilder(unsigned kind);
    ~XpbBuilder();
    XpbBuilder(const XpbBuilder&) = delete;
    XpbBuilder& operator=(const XpbBuilder&) = delete;

    void tag(unsigned char tag);
    void string(unsigned char tag, const QByteArray& value);
    void integer(unsigned char tag, int value);
    QByteArray bytes();

private:
    Firebird::IXpbBuilder* m_builder = nullptr;
};

} // namespace vestrel::fb::detail
