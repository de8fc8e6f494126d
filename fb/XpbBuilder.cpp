#include "fb/XpbBuilder.h"

namespace vestrel::fb::detail {

XpbBuilder::XpbBuilder(unsigned kind) {
    Status st;
    m_builder = callFb([&] { return util()->getXpbBuilder(st.get(), kind, nullptr, 0); });
}

XpbBuilder::~XpbBuilder() {
    m_builder->dispose();
}

void XpbBuilder::tag(unsigned char tag) {
    Status st;
    callFb([&] { m_builder->insertTag(st.get(), tag); });
}

void XpbBuilder::string(unsigned char tag, const QByteArray& value) {
    Status st;
    callFb([&] { m_builder->insertString(st.get(), tag, value.constData()); });
}

void XpbBuilder::integer(unsigned char tag, int value) {
    Status st;
    callFb([&] { m_builder->insertInt(st.get(), tag, value); });
}

QByteArray XpbBuilder::bytes() {
    Status st;
    return callFb([&] {
        return QByteArray(reinterpret_cast<const char*>(m_builder->getBuffer(st.get())),
                          qsizetype(m_builder->getBufferLength(st.get())));
    });
}

} // namespace vestrel::fb::detail
