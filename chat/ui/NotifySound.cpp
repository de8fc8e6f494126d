#include "chat/ui/NotifySound.h"

#include "chat/ChatLog.h"

#include <QFileInfo>

#include <canberra.h>

namespace vestrel::chat {

struct DesktopNotifySound::Context {
    ca_context* context = nullptr;
    bool unavailable = false;         // opening failed once: no sound for the rest of the run
    std::atomic<bool> playing{false}; // cleared by the service's own thread when a sound ends

    static void finished(ca_context*, uint32_t, int, void* userdata) {
        static_cast<Context*>(userdata)->playing = false;
    }
};

namespace {
constexpr uint32_t soundId = 1;
}

DesktopNotifySound::DesktopNotifySound()
    : m_context(std::make_unique<Context>()) {}

DesktopNotifySound::~DesktopNotifySound() {
    // Destroying the context stops a sound still playing and waits for its finish report.
    if (m_context->context)
        ca_context_destroy(m_context->context);
}

void DesktopNotifySound::play(const QString& path) {
    if (m_context->unavailable || m_context->playing)
        return;
    if (!QFileInfo::exists(path)) {
        qCInfo(lcChat) << "no notification sound:" << path << "is missing";
        return;
    }
    if (!m_context->context) {
        int error = ca_context_create(&m_context->context);
        if (error == CA_SUCCESS)
            error = ca_context_open(m_context->context);
        if (error != CA_SUCCESS) {
            qCInfo(lcChat) << "no notification sound: the sound service cannot be opened:" << ca_strerror(error);
            m_context->unavailable = true;
            return;
        }
    }
    ca_proplist* properties = nullptr;
    ca_proplist_create(&properties);
    ca_proplist_sets(properties, CA_PROP_MEDIA_FILENAME, QFile::encodeName(path).constData());
    ca_proplist_sets(properties, CA_PROP_EVENT_DESCRIPTION, "Nuovo Messaggio");
    m_context->playing = true;
    const int error =
        ca_context_play_full(m_context->context, soundId, properties, &Context::finished, m_context.get());
    ca_proplist_destroy(properties);
    if (error != CA_SUCCESS) {
        m_context->playing = false;
        qCInfo(lcChat) << "notification sound not played:" << ca_strerror(error);
    }
}

} // namespace vestrel::chat
