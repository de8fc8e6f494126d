// What a chat server sends is outside our control: every run feeds a stream of wire records through
// the client's dispatch rules and the client list, as the receiving thread does.
#include "chat/ChatRecord.h"
#include "chat/ClientList.h"
#include "chat/Dispatch.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vestrel;
    using namespace vestrel::chat;
    ClientList clients;
    const ChatSender me{"anna", "host", "pcA"};
    // The last, partial record is padded with zeros so that short inputs reach the rules too.
    for (std::size_t offset = 0; offset < size; offset += TChatRecord::Size) {
        QByteArray bytes(reinterpret_cast<const char*>(data + offset),
                         qsizetype(std::min<std::size_t>(size - offset, TChatRecord::Size)));
        bytes.resize(TChatRecord::Size, '\0');
        const TChatRecord record = TChatRecord::fromBytes(bytes.constData());
        const DispatchOutcome outcome = dispatchRecord(record, clients, me.nick);
        if (outcome.kind == DispatchOutcome::ListUpdate) {
            for (const QByteArray& name : outcome.listBoxNames)
                (void)clients.keyFor(name);
        }
        if (outcome.askReceipt)
            (void)makeReadReceipt(record, me);
    }
    return 0;
}
