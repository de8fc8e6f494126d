#include "components/ui/SlidePopUp.h"
#include "tests/components/FakeDesktopScreen.h"
#include "tests/components/ShowPopUp.h"

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

int slideIn(TfrmSlidePopUp* popup) {
    int steps = 0;
    while (popup->tmrScroll->isActive() && steps < 1000) {
        popup->tmrScrollTimer();
        ++steps;
    }
    return steps;
}

void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class TestSlidePopUp : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // The offscreen platform cannot raise windows and says so for every popup shown.
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (!text.contains(u"does not support raise()"_s))
                previous(type, context, text);
        });
    }

    void cleanup() {
        const QList<TfrmSlidePopUp*> popups = openSlidePopUps();
        for (TfrmSlidePopUp* p : popups)
            p->DoClose();
        flushDeletes();
    }

    void cascadedPlacement_data() {
        QTest::addColumn<int>("edge");
        QTest::addColumn<bool>("cascade");
        QTest::addColumn<QList<int>>("tops");
        QTest::addColumn<int>("left");
        // Work area 0,30 .. 1280,994; popups 148 x 121, PopupMarge 2, PopupStartX 16, PopupStartY 2.
        const QList<int> upwards{994 - 123, 994 - 246, 994 - 369};
        QTest::newRow("bottom") << int(TaskbarEdge::Bottom) << true << upwards << 1116;
        QTest::newRow("right") << int(TaskbarEdge::Right) << true << upwards << 1116;
        QTest::newRow("left") << int(TaskbarEdge::Left) << true << upwards << 16;
        QTest::newRow("top") << int(TaskbarEdge::Top) << true << QList<int>{32, 155, 278} << 1116;
        QTest::newRow("no taskbar: bottom") << int(TaskbarEdge::None) << true << upwards << 1116;
        QTest::newRow("without cascading: all at the start")
            << int(TaskbarEdge::Bottom) << false << QList<int>{994 - 123, 994 - 123, 994 - 123} << 1116;
    }
    void cascadedPlacement() {
        QFETCH(int, edge);
        QFETCH(bool, cascade);
        QFETCH(QList<int>, tops);
        QFETCH(int, left);
        test::FakeDesktopScreen screen;
        screen.area = {0, 30, 1280, 994};
        screen.edge = TaskbarEdge(edge);
        TSlidePopUp component(nullptr, &screen);
        if (!cascade)
            component.Options = {spAllowScroll};
        for (int i = 0; i < 3; ++i) {
            TfrmSlidePopUp* popup = test::showPopUp(component);
            QVERIFY(popup);
            slideIn(popup);
            QCOMPARE(popup->popupGeometry(), (PopupRect{left, tops[i], 148, 121}));
            QCOMPARE(popup->startOffset(), cascade ? 123 * i : 0);
        }
        QCOMPARE(component.PopupCount(), 3);
        QCOMPARE(component.CascadeOffset(), cascade ? 369 : 0);
    }

    void refusesWhenThereIsNoRoom_data() {
        QTest::addColumn<int>("edge");
        QTest::addColumn<int>("shown");
        // A work area 300 high fits two 121-high popups; the third would start above the screen.
        QTest::newRow("bottom") << int(TaskbarEdge::Bottom) << 2;
        // Top taskbar: offset + height + PopupStartY must stay within the work-area bottom (300).
        QTest::newRow("top") << int(TaskbarEdge::Top) << 2;
    }
    void refusesWhenThereIsNoRoom() {
        QFETCH(int, edge);
        QFETCH(int, shown);
        test::FakeDesktopScreen screen;
        screen.area = {0, 0, 1280, 300};
        screen.edge = TaskbarEdge(edge);
        TSlidePopUp component(nullptr, &screen);
        for (int i = 0; i < shown; ++i)
            QVERIFY(test::showPopUp(component));
        const int offset = component.CascadeOffset();
        QVERIFY(!component.ShowPopUp());
        QCOMPARE(openSlidePopUps().size(), shown);
        QCOMPARE(component.PopupCount(), shown);
        QCOMPARE(component.CascadeOffset(), offset);
    }

    void stackStartsAgainOnceAllPopupsHaveClosed() {
        test::FakeDesktopScreen screen;
        TSlidePopUp component(nullptr, &screen);
        TfrmSlidePopUp* first = test::showPopUp(component);
        TfrmSlidePopUp* second = test::showPopUp(component);
        QVERIFY(first && second);
        first->DoClose();
        // One popup is still open: the next goes beyond the last, not into the gap.
        TfrmSlidePopUp* third = test::showPopUp(component);
        QCOMPARE(third->startOffset(), 246);
        second->DoClose();
        third->DoClose();
        QCOMPARE(component.PopupCount(), 0);
        TfrmSlidePopUp* fourth = test::showPopUp(component);
        QCOMPARE(fourth->startOffset(), 0);
    }

    void edgeChangeRestartsTheCount() {
        test::FakeDesktopScreen screen;
        TSlidePopUp component(nullptr, &screen);
        TfrmSlidePopUp* a = test::showPopUp(component);
        QVERIFY(test::showPopUp(component));
        screen.edge = TaskbarEdge::Top;
        TfrmSlidePopUp* c = test::showPopUp(component);
        QCOMPARE(c->startOffset(), 0);
        QCOMPARE(component.PopupCount(), 1);
        a->DoClose();
        c->DoClose();
        QCOMPARE(component.PopupCount(), 0); // never below zero
        QCOMPARE(component.LastTaskbarEdge(), TaskbarEdge::Top);
    }

    void slideInAndOut_data() {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("stepsIn");
        QTest::addColumn<int>("stepsOut");
        QTest::newRow("default 9") << 9 << 14 << 14;
        QTest::newRow("1") << 1 << 120 << 121;
        QTest::newRow("50") << 50 << 3 << 3;
        QTest::newRow("0 is taken as 1") << 0 << 120 << 121;
        QTest::newRow("-5 is taken as 1") << -5 << 120 << 121;
        QTest::newRow("200 is taken as 50") << 200 << 3 << 3;
    }
    void slideInAndOut() {
        QFETCH(int, speed);
        QFETCH(int, stepsIn);
        QFETCH(int, stepsOut);
        test::FakeDesktopScreen screen;
        TSlidePopUp component(nullptr, &screen);
        component.ScrollSpeed = speed;
        QPointer<TfrmSlidePopUp> popup = test::showPopUp(component);
        QVERIFY(popup);
        // Collapsed to one pixel on the taskbar edge before the first step.
        QCOMPARE(popup->popupGeometry(), (PopupRect{1116, 994 - 2, 148, 1}));
        QVERIFY(popup->tmrScroll->isActive());
        QCOMPARE(popup->tmrScroll->interval(), 25);
        const int clamped = std::clamp(speed, 1, 50);
        popup->tmrScrollTimer();
        if (stepsIn > 1)
            QCOMPARE(popup->popupGeometry(), (PopupRect{1116, 994 - 2 - clamped, 148, 1 + clamped}));
        QCOMPARE(slideIn(popup) + 1, stepsIn);
        QCOMPARE(popup->popupGeometry(), (PopupRect{1116, 871, 148, 121}));
        QVERIFY(popup->tmrExit->isActive());
        QCOMPARE(popup->tmrExit->interval(), 10000);

        popup->tmrExitTimer();
        QVERIFY(!popup->tmrExit->isActive());
        QVERIFY(popup->tmrScrollDown->isActive());
        int steps = 0;
        while (popup && !popup->isClosed() && steps < 1000) {
            popup->tmrscrollDownTimer();
            ++steps;
            if (!popup->isClosed())
                QCOMPARE(popup->popupGeometry().top + popup->popupGeometry().height, 994 - 2);
        }
        QCOMPARE(steps, stepsOut);
        QCOMPARE(component.PopupCount(), 0);
        flushDeletes();
        QVERIFY(popup.isNull());
    }

    void exitTimer_data() {
        QTest::addColumn<bool>("scroll");
        QTest::addColumn<int>("timeOut");
        QTest::addColumn<int>("interval"); // 0: the exit timer never runs
        QTest::newRow("no scroll: full size at once") << false << 3 << 3000;
        QTest::newRow("TimeOut 0 waits for a click") << true << 0 << 0;
        QTest::newRow("negative TimeOut waits too") << false << -4 << 0;
    }
    void exitTimer() {
        QFETCH(bool, scroll);
        QFETCH(int, timeOut);
        QFETCH(int, interval);
        test::FakeDesktopScreen screen;
        TSlidePopUp component(nullptr, &screen);
        component.Options = scroll ? TSlidePopupOptions{spAllowScroll} : TSlidePopupOptions{};
        component.TimeOut = timeOut;
        TfrmSlidePopUp* popup = test::showPopUp(component);
        slideIn(popup);
        QCOMPARE(popup->popupGeometry(), (PopupRect{1116, 871, 148, 121}));
        QCOMPARE(popup->tmrExit->isActive(), interval > 0);
        if (interval > 0)
            QCOMPARE(popup->tmrExit->interval(), interval);
        QVERIFY(!popup->tmrScrollDown->isActive());
    }

    void clicks_data() {
        QTest::addColumn<int>("options");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("expected"); // the events raised, in order
        const int link = spAllowHyperlink;
        const int linkOpen = spAllowHyperlink | spAutoOpenURL;
        QTest::newRow("text, plain") << 0 << u"text"_s << u"click(popup)"_s;
        QTest::newRow("text, link") << link << u"text"_s << u"url(popup)"_s;
        QTest::newRow("text, link+open") << linkOpen << u"text"_s << u"url(popup) open"_s;
        QTest::newRow("open without link") << int(spAutoOpenURL) << u"text"_s << u"click(popup)"_s;
        QTest::newRow("right on text") << link << u"textRight"_s << u"click(component)"_s;
        QTest::newRow("middle on text") << link << u"textMiddle"_s << u""_s;
        QTest::newRow("background") << link << u"background"_s << u"click(component)"_s;
        QTest::newRow("icon") << 0 << u"icon"_s << u"click(component)"_s;
        QTest::newRow("title") << 0 << u"title"_s << u"click(component)"_s;
    }
    void clicks() {
        QFETCH(int, options);
        QFETCH(QString, where);
        QFETCH(QString, expected);
        test::FakeDesktopScreen screen;
        TSlidePopUp component(nullptr, &screen);
        component.Options = TSlidePopupOptions::fromInt(options);
        component.URL = u"https://example.invalid/x"_s;
        QStringList events;
        const auto name = [&](QObject* sender) {
            return sender == &component ? u"component"_s : qobject_cast<TfrmSlidePopUp*>(sender) ? u"popup"_s : u"?"_s;
        };
        component.OnClick = [&](QObject* s) {
            events << u"click(%1)"_s.arg(name(s));
        };
        component.OnURLClick = [&](QObject* s, const QString& url) {
            QCOMPARE(url, u"https://example.invalid/x"_s);
            events << u"url(%1)"_s.arg(name(s));
        };
        component.OpenURL = [&](const QString&) {
            events << u"open"_s;
        };
        QPointer<TfrmSlidePopUp> popup = test::showPopUp(component);
        if (where == u"text")
            QTest::mouseClick(popup->lblText, Qt::LeftButton);
        else if (where == u"textRight")
            QTest::mouseClick(popup->lblText, Qt::RightButton);
        else if (where == u"textMiddle")
            QTest::mouseClick(popup->lblText, Qt::MiddleButton);
        else if (where == u"background")
            QTest::mouseClick(popup->imgGradient, Qt::LeftButton, {}, QPoint(120, 5));
        else if (where == u"icon")
            popup->imgIconMouseUp(Qt::LeftButton);
        else if (where == u"title")
            QTest::mouseClick(popup->lblTitle, Qt::RightButton);
        QCOMPARE(events.join(u' '), expected);
        QCOMPARE(popup->isClosed(), !expected.isEmpty());
        QCOMPARE(component.PopupCount(), expected.isEmpty() ? 1 : 0);
        flushDeletes();
        QCOMPARE(popup.isNull(), !expected.isEmpty());
    }

    void clickHandlerClosingAllPopups() {
        test::FakeDesktopScreen screen;
        TSlidePopUp component(nullptr, &screen);
        QPointer<TfrmSlidePopUp> a = test::showPopUp(component);
        QPointer<TfrmSlidePopUp> b = test::showPopUp(component);
        QPointer<TfrmSlidePopUp> c = test::showPopUp(component);
        bool clickedHiddenButAlive = false;
        component.OnClick = [&](QObject*) {
            component.ClosePopUps();
            flushDeletes();
            clickedHiddenButAlive = b && b->isHidden() && !b->isClosed();
            QCOMPARE(component.PopupCount(), 1); // only the clicked popup still counts
        };
        b->imgGradientMouseUp(Qt::LeftButton);
        QVERIFY(clickedHiddenButAlive);
        QCOMPARE(component.PopupCount(), 0);
        flushDeletes();
        QVERIFY(a.isNull() && b.isNull() && c.isNull());
    }

    void closePopUpsWithNoCountStillClosesStrays() {
        test::FakeDesktopScreen screen;
        TSlidePopUp owner(nullptr, &screen);
        TSlidePopUp other(nullptr, &screen);
        QPointer<TfrmSlidePopUp> stray = test::showPopUp(other);
        QCOMPARE(owner.PopupCount(), 0);
        owner.ClosePopUps();
        flushDeletes();
        QVERIFY(stray.isNull());
        QCOMPARE(other.PopupCount(), 0);
    }

    void hoverFontOnlyInHyperlinkMode_data() {
        QTest::addColumn<bool>("hyperlink");
        QTest::newRow("hyperlink") << true;
        QTest::newRow("plain") << false;
    }
    void hoverFontOnlyInHyperlinkMode() {
        QFETCH(bool, hyperlink);
        test::FakeDesktopScreen screen;
        TSlidePopUp component(nullptr, &screen);
        component.Options = hyperlink ? TSlidePopupOptions{spAllowHyperlink} : TSlidePopupOptions{};
        component.HoverFont.Color = clRed;
        TfrmSlidePopUp* popup = test::showPopUp(component);
        QVERIFY(!popup->lblText->font().underline());
        popup->lblTextMouseEnter();
        QCOMPARE(popup->lblText->font().underline(), hyperlink);
        QCOMPARE(popup->lblText->palette().color(QPalette::WindowText) == QColor(Qt::red), hyperlink);
        popup->lblTextMouseLeave();
        QVERIFY(!popup->lblText->font().underline());
        QVERIFY(!popup->isClosed());
    }

    void backgroundImageAndIcon_data() {
        QTest::addColumn<bool>("tile");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QColor>("color");
        // A 2 x 2 blue background whose bottom-left pixel is red, the colour drawn see-through.
        QTest::newRow("tiled") << true << QPoint(3, 2) << QColor(Qt::blue);
        QTest::newRow("tiled, see-through") << true << QPoint(2, 3) << QColor(Qt::white);
        QTest::newRow("once") << false << QPoint(1, 0) << QColor(Qt::blue);
        QTest::newRow("once, beyond the image") << false << QPoint(3, 2) << QColor(Qt::white);
        // A green 4 x 4 icon at (9, 8) with a see-through black bottom-left corner.
        QTest::newRow("icon") << true << QPoint(10, 10) << QColor(Qt::green);
        QTest::newRow("icon, see-through") << true << QPoint(9, 11) << QColor(Qt::blue);
    }
    void backgroundImageAndIcon() {
        QFETCH(bool, tile);
        QFETCH(QPoint, at);
        QFETCH(QColor, color);
        QImage background(2, 2, QImage::Format_RGB32);
        background.fill(Qt::blue);
        background.setPixel(0, 1, qRgb(255, 0, 0));
        QImage icon(4, 4, QImage::Format_RGB32);
        icon.fill(Qt::green);
        icon.setPixel(0, 3, qRgb(0, 0, 0));
        test::FakeDesktopScreen screen;
        TSlidePopUp component(nullptr, &screen);
        component.Options = tile ? TSlidePopupOptions{spBackgroundTile} : TSlidePopupOptions{};
        component.BackgroundImage = background;
        component.IconBitmap = icon;
        component.IconLeft = 9;
        TfrmSlidePopUp* popup = test::showPopUp(component);
        QVERIFY(popup);
        QCOMPARE(popup->imgGradient->Picture.pixelColor(at), color);
    }

    void popupKeepsTheValuesOfItsShowing() {
        test::FakeDesktopScreen screen;
        TSlidePopUp component(nullptr, &screen);
        component.Tag = 4711;
        component.Text = u"Mario: <b>ciao</b> & co"_s;
        component.Title = u"Nuovo Messaggio"_s;
        TfrmSlidePopUp* popup = test::showPopUp(component);
        component.Text = u"later"_s;
        component.Tag = 1;
        QCOMPARE(popup->Tag, 4711);
        QCOMPARE(popup->lblText->Tag, 4711);
        QCOMPARE(popup->lblText->text(), u"Mario: <b>ciao</b> & co"_s);
        QCOMPARE(popup->lblText->textFormat(), Qt::PlainText);
        QCOMPARE(popup->lblTitle->text(), u"Nuovo Messaggio"_s);
        // The text is laid out across the panel, never above 30 pixels from its top.
        QCOMPARE(popup->lblText->width(), 148 - 15);
        QCOMPARE(popup->lblText->x(), 8); // half of 15, rounded to the even 8
        QVERIFY(popup->lblText->y() >= 30);
    }

    void longTitleEndsInAnEllipsisAndTextClearsTheIcon() {
        test::FakeDesktopScreen screen;
        TSlidePopUp component(nullptr, &screen);
        QImage icon(32, 32, QImage::Format_RGB32);
        icon.fill(Qt::green);
        component.IconBitmap = icon;
        component.Title = u"Scadenza versamento contributi trimestrali"_s;
        component.Text = u"Riga uno\nRiga due\nRiga tre\nRiga quattro\nRiga cinque"_s;
        TfrmSlidePopUp* popup = test::showPopUp(component);
        QVERIFY(popup);
        const QString title = popup->lblTitle->text();
        QVERIFY2(title.endsWith(u'\u2026') && title.size() > 1, qPrintable(title));
        QVERIFY(component.Title.startsWith(title.chopped(1)));
        QVERIFY(popup->lblTitle->geometry().right() < 148);
        QCOMPARE(popup->lblTitle->toolTip(), component.Title);
        // Several lines start below the icon (drawn at 8,8 inside the 2-pixel bevel), never over it.
        const QRect iconRect(2 + 8, 2 + 8, 32, 32);
        QVERIFY2(!popup->lblText->geometry().intersects(iconRect),
                 qPrintable(u"text at y %1"_s.arg(popup->lblText->y())));
        // A short title and a one-line text keep the designed places.
        TSlidePopUp plain(nullptr, &screen);
        plain.Title = u"Promemoria"_s;
        plain.Text = u"Breve"_s;
        TfrmSlidePopUp* short_ = test::showPopUp(plain);
        QVERIFY(short_);
        QCOMPARE(short_->lblTitle->text(), u"Promemoria"_s);
        QCOMPARE(short_->lblText->y(),
                 std::max(halfRoundedToEven(short_->pnlBorder->height() - short_->lblText->height()), 30));
    }

    void badSizesAndTextsStayOnTheScreen_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("textLength");
        QTest::newRow("zero size") << 0 << 0 << 10;
        QTest::newRow("negative size") << -20 << -7 << 10;
        QTest::newRow("huge size") << 100000 << 100000 << 10;
        QTest::newRow("empty text") << 148 << 121 << 0;
        QTest::newRow("huge text") << 148 << 121 << 2000000;
    }
    void badSizesAndTextsStayOnTheScreen() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, textLength);
        test::FakeDesktopScreen screen;
        TSlidePopUp component(nullptr, &screen);
        component.Width = width;
        component.Height = height;
        component.Text = QString(textLength, u'x');
        TfrmSlidePopUp* popup = test::showPopUp(component);
        QVERIFY(popup);
        slideIn(popup);
        const PopupRect r = popup->popupGeometry();
        QVERIFY(r.width >= 1 && r.height >= 1);
        QVERIFY(r.top >= 0 && r.top + r.height <= 994);
        QVERIFY(r.left + r.width <= 1280);
        popup->tmrExitTimer();
        while (!popup->isClosed())
            popup->tmrscrollDownTimer();
        QCOMPARE(component.PopupCount(), 0);
    }

    void componentGoneBeforeItsPopups() {
        test::FakeDesktopScreen screen;
        auto component = std::make_unique<TSlidePopUp>(nullptr, &screen);
        QPointer<TfrmSlidePopUp> popup = test::showPopUp(*component);
        component.reset();
        flushDeletes();
        QVERIFY(popup.isNull());
    }

    void blendColor_data() {
        QTest::addColumn<uint>("c1");
        QTest::addColumn<uint>("c2");
        QTest::addColumn<int>("i");
        QTest::addColumn<int>("n");
        QTest::addColumn<uint>("rgb");
        QTest::newRow("first line") << 16764057u << uint(clWhite) << 0 << 121 << 0xFF99CCFFu;
        QTest::newRow("last line") << 16764057u << uint(clWhite) << 121 << 121 << 0xFFFFFFFFu;
        // red 0x99 + MulDiv(60, 0x66, 121) = 153 + 51 (50.58 rounded), green 204 + 25, blue 255.
        QTest::newRow("middle") << 16764057u << uint(clWhite) << 60 << 121 << 0xFFCCE5FFu;
        QTest::newRow("downwards") << uint(clWhite) << uint(clBlack) << 1 << 2 << 0xFF7F7F7Fu;
        QTest::newRow("no lines") << 16764057u << uint(clWhite) << 0 << 0 << 0xFF99CCFFu;
    }
    void blendColor() {
        QFETCH(uint, c1);
        QFETCH(uint, c2);
        QFETCH(int, i);
        QFETCH(int, n);
        QFETCH(uint, rgb);
        QCOMPARE(BlendColor(c1, c2, i, n), QRgb(rgb));
    }
};

QTEST_MAIN(TestSlidePopUp)
#include "test_slidepopup.moc"
