// Draws the pictures that come with the program: the designed button images
// and background of the main window, the three coloured button sets and the
// two interval lamps. Run by tools/make_art.sh; its output is kept in
// resources/art so that a build needs no drawing step.

#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <array>
#include <cstdio>

namespace {

constexpr int kButton = 98; // twice the on-screen size, for sharp scaling

struct Theme {
    QColor light;
    QColor dark;
    QColor ink;
};

void drawEnvelope(QPainter& p, QRectF r, QColor ink, bool open)
{
    p.setPen(QPen(ink, 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r, 4, 4);
    QPainterPath flap;
    if (open) {
        flap.moveTo(r.left(), r.top());
        flap.lineTo(r.center().x(), r.top() - r.height() * 0.45);
        flap.lineTo(r.right(), r.top());
    } else {
        flap.moveTo(r.left() + 2, r.top() + 2);
        flap.lineTo(r.center().x(), r.top() + r.height() * 0.55);
        flap.lineTo(r.right() - 2, r.top() + 2);
    }
    p.drawPath(flap);
}

void drawArrowDown(QPainter& p, QPointF top, qreal length, QColor ink)
{
    p.setPen(QPen(ink, 5.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF tip(top.x(), top.y() + length);
    p.drawLine(top, tip);
    p.drawLine(tip, QPointF(tip.x() - 9, tip.y() - 9));
    p.drawLine(tip, QPointF(tip.x() + 9, tip.y() - 9));
}

void drawGlyph(QPainter& p, int index, QColor ink)
{
    p.setRenderHint(QPainter::Antialiasing);
    switch (index) {
    case 1: { // new mail: envelope and pen
        drawEnvelope(p, QRectF(14, 30, 52, 36), ink, false);
        p.save();
        p.translate(70, 22);
        p.rotate(45);
        p.setPen(QPen(ink, 3));
        p.setBrush(ink);
        p.drawRoundedRect(QRectF(-4, -4, 8, 34), 2, 2);
        QPainterPath nib;
        nib.moveTo(-4, 30);
        nib.lineTo(0, 40);
        nib.lineTo(4, 30);
        p.drawPath(nib);
        p.restore();
        break;
    }
    case 2: // receive: envelope and an arrow coming down into it
        drawEnvelope(p, QRectF(18, 38, 62, 30), ink, false);
        drawArrowDown(p, QPointF(49, 8), 24, ink);
        break;
    case 3: { // view: an open envelope with a letter
        p.setPen(QPen(ink, 3.5));
        p.setBrush(QColor(255, 255, 255, 235));
        p.drawRect(QRectF(30, 12, 38, 40));
        p.setPen(QPen(ink.darker(130), 2.5));
        for (int i = 0; i < 4; ++i) {
            p.drawLine(QPointF(35, 21 + i * 8), QPointF(63, 21 + i * 8));
        }
        p.setBrush(Qt::NoBrush);
        drawEnvelope(p, QRectF(18, 40, 62, 30), ink, true);
        break;
    }
    case 4: { // address book: a book with an @
        p.setPen(QPen(ink, 4));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(24, 12, 50, 60), 5, 5);
        p.drawLine(QPointF(33, 12), QPointF(33, 72));
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(34);
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRectF(33, 12, 41, 60), Qt::AlignCenter, QStringLiteral("@"));
        break;
    }
    case 5: { // settings: a gear
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        const QPointF c(49, 42);
        QPainterPath gear;
        for (int i = 0; i < 8; ++i) {
            p.save();
            p.translate(c);
            p.rotate(i * 45.0);
            p.drawRoundedRect(QRectF(-6, -31, 12, 14), 2, 2);
            p.restore();
        }
        p.drawEllipse(c, 22, 22);
        p.setBrush(QColor(0, 0, 0, 0));
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.drawEllipse(c, 9, 9);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        break;
    }
    case 6: { // home page: a house
        p.setPen(QPen(ink, 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        QPainterPath roof;
        roof.moveTo(16, 44);
        roof.lineTo(49, 14);
        roof.lineTo(82, 44);
        p.drawPath(roof);
        p.drawRect(QRectF(26, 40, 46, 30));
        p.setBrush(ink);
        p.drawRect(QRectF(43, 52, 12, 18));
        break;
    }
    default:
        break;
    }
}

const std::array<QString, 6> kLabels = {
    QStringLiteral("新規作成"),   QStringLiteral("受信"), QStringLiteral("メールを見る"),
    QStringLiteral("アドレス帳"), QStringLiteral("設定"), QStringLiteral("ホーム"),
};

QImage button(int index, const Theme& theme)
{
    QImage glyph(kButton, kButton, QImage::Format_ARGB32_Premultiplied);
    glyph.fill(Qt::transparent);
    {
        QPainter g(&glyph);
        drawGlyph(g, index, theme.ink);
    }

    QImage img(kButton, kButton, QImage::Format_RGB32);
    img.fill(QColor(239, 239, 239)); // the window colour, behind the rounded corners
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient face(0, 0, 0, kButton);
    face.setColorAt(0.0, theme.light);
    face.setColorAt(1.0, theme.dark);
    p.setPen(QPen(theme.dark.darker(140), 2));
    p.setBrush(face);
    p.drawRoundedRect(QRectF(2, 2, kButton - 4, kButton - 4), 14, 14);
    // A soft highlight over the upper half.
    QLinearGradient shine(0, 0, 0, kButton / 2.0);
    shine.setColorAt(0.0, QColor(255, 255, 255, 110));
    shine.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shine);
    p.drawRoundedRect(QRectF(5, 5, kButton - 10, kButton / 2.0), 11, 11);

    p.drawImage(QRectF(4, -2, kButton - 8, kButton - 8), glyph);

    QFont f(QStringLiteral("IPAPGothic"));
    f.setPixelSize(index == 3 || index == 4 ? 15 : 18);
    f.setBold(true);
    p.setFont(f);
    p.setPen(theme.ink);
    p.drawText(QRectF(2, kButton - 27, kButton - 4, 22), Qt::AlignCenter, kLabels[index - 1]);
    return img;
}

QImage background()
{
    const int w = 322;
    const int h = 238;
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0.0, QColor(28, 58, 112));
    sky.setColorAt(0.55, QColor(70, 122, 178));
    sky.setColorAt(1.0, QColor(244, 210, 150));
    p.fillRect(img.rect(), sky);

    // Light rising behind an envelope: the mail that arrives.
    QRadialGradient glow(QPointF(w / 2.0, h * 0.62), w * 0.55);
    glow.setColorAt(0.0, QColor(255, 246, 214, 230));
    glow.setColorAt(0.35, QColor(255, 226, 160, 120));
    glow.setColorAt(1.0, QColor(255, 226, 160, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawRect(img.rect());
    p.setPen(QPen(QColor(255, 244, 210, 90), 3));
    for (int i = 0; i < 13; ++i) {
        p.save();
        p.translate(w / 2.0, h * 0.62);
        p.rotate(-180 + i * 15.0);
        p.drawLine(QPointF(60, 0), QPointF(w, 0));
        p.restore();
    }
    // Small stars in the upper sky.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 200));
    const std::array<QPointF, 9> stars = {QPointF(22, 20),  QPointF(64, 44),  QPointF(108, 14),
                                          QPointF(250, 26), QPointF(292, 52), QPointF(206, 12),
                                          QPointF(40, 70),  QPointF(280, 90), QPointF(160, 30)};
    for (const QPointF& s : stars) {
        p.drawEllipse(s, 1.6, 1.6);
    }

    const QRectF env(w / 2.0 - 58, h * 0.62 - 30, 116, 72);
    p.setPen(QPen(QColor(40, 70, 120), 3));
    p.setBrush(QColor(255, 252, 244));
    p.drawRoundedRect(env, 6, 6);
    QPainterPath flap;
    flap.moveTo(env.left() + 3, env.top() + 3);
    flap.lineTo(env.center().x(), env.top() + 42);
    flap.lineTo(env.right() - 3, env.top() + 3);
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);

    QFont title(QStringLiteral("DejaVu Serif"));
    title.setPixelSize(40);
    title.setBold(true);
    title.setItalic(true);
    p.setFont(title);
    p.setPen(QColor(0, 0, 0, 90));
    p.drawText(QRectF(2, 18, w, 50), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Lumora"));
    p.setPen(QColor(255, 250, 236));
    p.drawText(QRectF(0, 16, w, 50), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Lumora"));
    QFont sub(QStringLiteral("IPAPGothic"));
    sub.setPixelSize(17);
    sub.setBold(true);
    p.setFont(sub);
    p.setPen(QColor(255, 244, 214));
    p.drawText(QRectF(0, 62, w, 24), Qt::AlignHCenter | Qt::AlignVCenter,
               QStringLiteral("ルモラ　メール"));
    return img;
}

QImage lamp(QColor colour)
{
    const int size = 34;
    QImage img(size, size, QImage::Format_RGB32);
    img.fill(QColor(212, 208, 200));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(QPointF(size * 0.38, size * 0.35), size * 0.55);
    g.setColorAt(0.0, colour.lighter(175));
    g.setColorAt(0.5, colour);
    g.setColorAt(1.0, colour.darker(170));
    p.setPen(QPen(colour.darker(220), 2));
    p.setBrush(g);
    p.drawEllipse(QRectF(3, 3, size - 6, size - 6));
    return img;
}

bool save(const QImage& img, const QString& path, const char* format, int quality = 92)
{
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    if (!img.save(path, format, quality)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_art OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const std::array<Theme, 4> themes = {{
        {QColor(232, 236, 242), QColor(150, 162, 182), QColor(34, 52, 86)},   // designed
        {QColor(186, 220, 255), QColor(38, 102, 196), QColor(255, 255, 255)}, // Blue
        {QColor(255, 200, 192), QColor(196, 44, 52), QColor(255, 255, 255)},  // Red
        {QColor(200, 240, 196), QColor(40, 140, 70), QColor(255, 255, 255)},  // Green
    }};
    bool ok = true;
    for (int n = 1; n <= 6; ++n) {
        ok &= save(button(n, themes[0]), out + QStringLiteral("/design/%1.png").arg(n), "PNG");
        for (int set = 1; set <= 3; ++set) {
            ok &= save(button(n, themes[set]),
                       out + QStringLiteral("/button/%1/%2.jpg").arg(set).arg(n), "JPG");
        }
    }
    ok &= save(background(), out + QStringLiteral("/design/background.png"), "PNG");
    ok &= save(lamp(QColor(220, 40, 40)), out + QStringLiteral("/lamp/Red.png"), "PNG");
    ok &= save(lamp(QColor(40, 170, 70)), out + QStringLiteral("/lamp/Green.png"), "PNG");
    return ok ? 0 : 1;
}
