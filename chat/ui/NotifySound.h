#pragma once

#include <QString>

#include <atomic>
#include <memory>

namespace vestrel::chat {

// Plays the new-message sound. Playing never blocks the caller: the window stays responsive while the
// sound runs to its end. Tests put a recorder in its place.
class NotifySound {
public:
    virtual ~NotifySound() = default;
    // Starts playing the WAV file `path`. A missing file or no audio device plays nothing (logged);
    // a sound still playing is let finish and this one is skipped, so a flood of messages makes one
    // sound at a time rather than a din.
    virtual void play(const QString& path) = 0;
};

// The desktop's event-sound service (libcanberra: plays a file asynchronously through the session's
// sound server or the sound card, and tells when it has finished).
class DesktopNotifySound final : public NotifySound {
public:
    DesktopNotifySound();
    ~DesktopNotifySound() override;
    void play(const QString& path) override;

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

} // namespace vestrel::chat
