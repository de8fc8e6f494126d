// Painting a popup and one slide step. A step runs every 25 ms; it must stay well below that
// (target: under 2 ms) for a 121-pixel slide to look smooth.
#include "components/ui/SlidePopUp.h"
#include "tests/components/FakeDesktopScreen.h"
#include "tests/components/ShowPopUp.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <benchmark/benchmark.h>

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

test::FakeDesktopScreen g_screen; // 1280 x 1024 with a bottom taskbar

QImage sampleIcon() {
    QImage icon(32, 32, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setBrush(QColor(0x1B, 0x3C, 0x78));
    p.drawEllipse(2, 2, 28, 28);
    return icon;
}

void configure(TSlidePopUp& c, int speed) {
    c.Width = 185;
    c.Height = 121;
    c.TimeOut = 0;
    c.ScrollSpeed = speed;
    c.Options = {spAllowScroll, spAllowHyperlink};
    c.Title = u"Nuovo Messaggio"_s;
    c.Text = u"Mario: ci vediamo alle 15 in sala riunioni per il punto sul progetto"_s;
    c.IconBitmap = sampleIcon();
}

void dispose(TfrmSlidePopUp* popup) {
    if (popup)
        popup->DoClose();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void BM_DrawGradient(benchmark::State& state) {
    for (auto _ : state) {
        QImage image = DrawGradient(16764057, clWhite, TOrientation::mbVertical, 181, 121);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_DrawGradient)->Unit(benchmark::kMicrosecond);

// The whole popup (gradient, icon, title, text, strip) rendered into an image, as one frame.
void BM_PaintPopup(benchmark::State& state) {
    TSlidePopUp component(nullptr, &g_screen);
    configure(component, 50);
    TfrmSlidePopUp* popup = test::showPopUp(component);
    while (popup->tmrScroll->isActive())
        popup->tmrScrollTimer();
    QImage frame(popup->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        popup->render(&frame);
        benchmark::DoNotOptimize(frame.constBits());
    }
    dispose(popup);
}
BENCHMARK(BM_PaintPopup)->Unit(benchmark::kMicrosecond);

// One slide-in step: the window grows by one step and the new frame is rendered.
void BM_SlideInStep(benchmark::State& state) {
    TSlidePopUp component(nullptr, &g_screen);
    configure(component, 9);
    TfrmSlidePopUp* popup = test::showPopUp(component);
    QImage frame(185, 121, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        if (!popup->tmrScroll->isActive()) {
            state.PauseTiming();
            dispose(popup);
            popup = test::showPopUp(component);
            state.ResumeTiming();
        }
        popup->tmrScrollTimer();
        popup->render(&frame);
        benchmark::DoNotOptimize(frame.constBits());
    }
    dispose(popup);
}
BENCHMARK(BM_SlideInStep)->Unit(benchmark::kMicrosecond);

// One slide-out step: the window shrinks, its background and text are laid out again for the new
// size, and the frame is rendered.
void BM_SlideOutStep(benchmark::State& state) {
    TSlidePopUp component(nullptr, &g_screen);
    configure(component, 9);
    const auto fresh = [&] {
        TfrmSlidePopUp* p = test::showPopUp(component);
        while (p->tmrScroll->isActive())
            p->tmrScrollTimer();
        p->tmrExitTimer();
        return p;
    };
    TfrmSlidePopUp* popup = fresh();
    QImage frame(185, 121, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        if (popup->popupGeometry().height <= 9) {
            state.PauseTiming();
            dispose(popup);
            popup = fresh();
            state.ResumeTiming();
        }
        popup->tmrscrollDownTimer();
        popup->render(&frame);
        benchmark::DoNotOptimize(frame.constBits());
    }
    dispose(popup);
}
BENCHMARK(BM_SlideOutStep)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The offscreen platform says for every popup that it cannot raise windows; keep the figures readable.
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (!text.contains(u"does not support raise()"_s))
            previous(type, context, text);
    });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
